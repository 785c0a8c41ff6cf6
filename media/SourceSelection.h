#pragma once
// What the source configuration needs of the application shell: the parsed
// command line's start options and the application settings that name the
// chosen source (their working copy). This is the least the sources need;
// the application's own settings object takes these values over.
//
// GUI thread only: the shell writes the values while it starts or when the
// user picks a source; the source configuration reads them on that thread.

#include <map>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

// The parsed command line.
struct StartOptions {
    std::string destination;  // not empty in a windowless export or frame save
    boost::posix_time::ptime from{boost::posix_time::not_a_date_time};
    boost::posix_time::ptime to{boost::posix_time::not_a_date_time};
    boost::posix_time::ptime time{boost::posix_time::not_a_date_time};
    bool portable = false;
};

// The chosen source as the settings keep it.
struct SourceSelectionSettings {
    int sourceMode = 0;  // ISourceConfiguration::ESourceMode
    std::map<int, std::vector<std::wstring>> videoFolders;  // per source mode
    std::vector<std::wstring> channels;
    bool rememberVideoSource = true;
    // False once the command line's source was applied to the settings.
    bool sourceFromSettings = true;

    // The source paths of the current mode joined with "|" (UTF-8).
    std::string GetSourcePaths() const;
};

// The process-wide instance.
SourceSelectionSettings& GetSourceSelectionSettings();
