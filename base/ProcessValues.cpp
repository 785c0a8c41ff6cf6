#include "base/ProcessValues.h"

#include <cstdlib>
#include <ctime>
#include <mutex>

#include "base/ClassRegistry.h"
#include "base/MiniDumper.h"
#include "base/Registry.h"
#include "base/VideoFrame.h"

int32_t g_ffmpegThreadCount = 1;

namespace {

MiniDumper* g_crashHandler = nullptr;

void DeleteCrashHandler()
{
    delete g_crashHandler;
    g_crashHandler = nullptr;
}

int32_t SystemBiasMinutes()
{
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return static_cast<int32_t>(-local.tm_gmtoff / 60);
}

} // namespace

int32_t ReadFfmpegThreadCount()
{
    RegistryKey key("SOFTWARE\\QOR\\Vindara\\Video", false, RegistryKey::kQueryValue);
    if (!key.IsOpen())
        return 1;
    const std::string text = key.ReadString("FFTHREADCOUNT", nullptr, 16);
    if (text.empty())
        return 1;
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

void InitProcessValues()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_crashHandler = InstallCrashHandler(0);
        std::atexit(&DeleteCrashHandler);

        g_ffmpegThreadCount = ReadFfmpegThreadCount();

        SetShowCrashMessage(ReadShowCrashMessage());
        SetReportWindowsLogEvent(ReadReportWindowsLogEvent());
        SetFullDump(ReadFullDump());

        // Messaging and frame classes by name, for objects read by class;
        // then the time-zone snapshot new frames carry.
        RegisterNetObjectClasses();

        SetFrameTimeZoneBias(SystemBiasMinutes());
    });
}

MiniDumper* GetProcessCrashHandler() { return g_crashHandler; }
