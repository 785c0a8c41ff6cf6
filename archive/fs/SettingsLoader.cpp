#include "archive/fs/SettingsLoader.h"

#include <algorithm>

#include <boost/archive/archive_exception.hpp>
#include <boost/filesystem.hpp>

#include "base/Log.h"

namespace {

QorLog::CDebug* Log() { return getDefaultDebugInstance(); }

}  // namespace

std::string GetPathSettingFile(const std::string& path) {
    std::string portable = path;
    std::replace(portable.begin(), portable.end(), '\\', '/');
    try {
        const boost::filesystem::path item(portable);
        const std::string candidate = item.parent_path().parent_path().generic_string() + "/" + kArchiveSettingsFileName;
        if (boost::filesystem::exists(boost::filesystem::path(candidate))) return candidate;
    } catch (const boost::filesystem::filesystem_error& e) {
        QOR_LOG_ERROR(Log(), "Filesystem exception in GetPathSettingFile: %s; path = %s", e.what(),
                      e.path1().string().c_str());
    }
    return std::string();
}

namespace Storage {

VindaraSettingsLoader::VindaraSettingsLoader(const std::string& openedPath)
    : m_path(GetPathSettingFile(openedPath)) {
    LoadSettings(m_path);
}

void VindaraSettingsLoader::LoadSettings(const std::string& settingsPath) {
    if (settingsPath.empty()) {
        QOR_LOG_ERROR(Log(), "Filesystem settings path is empty");
        return;
    }
    try {
        Load(settingsPath);
        Log()->Message("[FS] File system settings loaded from: %s.", settingsPath.c_str());
    } catch (const boost::archive::archive_exception& e) {
        QOR_LOG_ERROR(Log(), "Failed to load filesystem settings: %s", e.what());
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(Log(), "Exception while loading filesystem settings: %s", e.what());
    }
}

ChannelInfo VindaraSettingsLoader::GetChannel(int channel) {
    // Inserts a default record for an unknown id, as the settings do.
    Settings::GetChannel(channel);
    return GetChannelInfo(channel);
}

}  // namespace Storage
