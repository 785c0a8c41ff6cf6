#pragma once
// Channel settings of an archive copied out of the recorder (a single archive
// file or a folder of them): the archive's Settings.xml is looked for two
// levels above the opened item and loaded once; channels it does not name get
// default records. Never throws; failures are logged and leave the settings
// empty or as far as they were read.

#include <string>

#include "archive/files/ArchiveSettings.h"

// The Settings.xml two levels above `path` (D:\export\cam\file ->
// D:/export/Settings.xml) with '/' separators, or "" when it does not exist.
std::string GetPathSettingFile(const std::string& path);

namespace Storage {

class VindaraSettingsLoader : public Settings {
public:
    // Finds and loads the settings file of the opened item.
    explicit VindaraSettingsLoader(const std::string& openedPath);

    void LoadSettings(const std::string& settingsPath);
    // A copy of the channel's record; an unknown id gets a default record
    // (named by its number), which is kept.
    ChannelInfo GetChannel(int channel);
    const std::string& GetSettingsPath() const { return m_path; }

private:
    std::string m_path;
};

}  // namespace Storage
