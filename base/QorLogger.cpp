#include "base/QorLogger.h"

#include <cstring>
#include <string>
#include <typeinfo>

#include "base/Log.h"

QorLog::CDebug* CQorLogger::Logger() const
{
    return m_logger ? m_logger : getDefaultDebugInstance();
}

void* CQorLogger::QueryContract(const char* name)
{
    if (!name)
        return nullptr;
    if (std::strcmp(name, typeid(QOR8::IContract).name()) == 0 ||
        std::strcmp(name, typeid(QOR8::ILogger).name()) == 0)
        return this;
    return nullptr;
}

uint32_t CQorLogger::SdkThresholdForLevel(int loggerLevel)
{
    switch (loggerLevel) {
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

uint32_t CQorLogger::GetLogLevel()
{
    return SdkThresholdForLevel(Logger()->GetLevel());
}

void CQorLogger::Log(uint32_t level, const char* text)
{
    QorLog::CDebug* log = Logger();
    const int loggerLevel = log->GetLevel();
    if (!text || loggerLevel <= 0 || level < SdkThresholdForLevel(loggerLevel))
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
        // The add-on's errors are reported as one fixed place of this file.
        ErrorSite{log, "src\\QorLogger", __TIMESTAMP__, 73}.Report("%s", text);
        break;
    default:
        break;
    }
}

void CQorLogger::LogAt(uint32_t level, const char* file, int32_t line, const char* function,
                       const char* text)
{
    QorLog::CDebug* log = Logger();
    const int loggerLevel = log->GetLevel();
    if (loggerLevel <= 0 || level < SdkThresholdForLevel(loggerLevel) || !text || !function)
        return;
    std::string body = text;
    for (char& c : body)
        if (c == '%')
            c = '*';
    std::string composed = "FILE:\\\\";
    composed += file ? file : "";
    composed += ", LINE:";
    composed += std::to_string(line);
    composed += ", FUNC:";
    composed += function;
    composed += ", ";
    composed += body;
    Log(level, composed.c_str());
}

CQorLogger& CQorLogger::Instance()
{
    static CQorLogger instance;
    return instance;
}
