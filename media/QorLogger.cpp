#include "media/QorLogger.h"

#include <cstring>
#include <string>
#include <typeinfo>

#include "base/Log.h"

void* CQorLogger::QueryContract(const char* name)
{
    if (!name)
        return nullptr;
    if (std::strcmp(name, typeid(QOR8::IContract).name()) == 0 ||
        std::strcmp(name, typeid(QOR8::ILogger).name()) == 0)
        return this;
    return nullptr;
}

uint32_t CQorLogger::GetLogLevel()
{
    switch (getDefaultDebugInstance()->GetLevel()) {
    case 4:
        return QOR8::LogTrace;
    case 3:
        return QOR8::LogMessage;
    case 2:
        return QOR8::LogWarning;
    default:
        return QOR8::LogError;
    }
}

void CQorLogger::Log(uint32_t level, const char* text)
{
    QorLog::CDebug* log = getDefaultDebugInstance();
    if (!text || log->GetLevel() <= 0 || level < GetLogLevel())
        return;
    switch (level) {
    case QOR8::LogTrace:
        log->Trace("%s", text);
        break;
    case QOR8::LogMessage:
        log->Message("%s", text);
        break;
    case QOR8::LogWarning:
        log->Warning("%s", text);
        break;
    case QOR8::LogError:
        ErrorSite{log, "src\\QorLogger", __TIMESTAMP__, 73}.Report("%s", text);
        break;
    default:
        break;
    }
}

void CQorLogger::LogAt(uint32_t level, const char* file, int32_t line, const char* function,
                       const char* text)
{
    QorLog::CDebug* log = getDefaultDebugInstance();
    if (log->GetLevel() <= 0 || level < GetLogLevel() || !text || !function)
        return;
    std::string body = text;
    for (char& c : body)
        if (c == '%')
            c = '*';
    const std::string composed = std::string("FILE:\\\\") + (file ? file : "") + ", LINE:" +
                                 std::to_string(line) + ", FUNC:" + function + ", " + body;
    Log(level, composed.c_str());
}

CQorLogger& CQorLogger::Instance()
{
    static CQorLogger instance;
    return instance;
}
