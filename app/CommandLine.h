#pragma once
// The command line: the option table, the parse into StartOptions and the
// help text. Parsing never ends the process; the start-up decides what a
// rejected line or a help request means.

#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/program_options/variables_map.hpp>

#include "config/StartOptions.h"

struct CommandLineResult {
    StartOptions options;
    bool help = false;      // the help switch was given
    bool rejected = false;  // the line could not be read; `error` says why
    bool dump = false;      // the crash-dump test switch was given
    std::string error;
};

// Splits with the Windows rules (blanks separate, double quotes group,
// backslashes before a quote escape it), reads the options and converts the
// values. Relative source and destination paths are made absolute against
// the current folder.
CommandLineResult BuildCommandLineOptions(const std::string& commandLine);
// BuildCommandLineOptions, then the options' overrides go into the live
// settings (only for an accepted line without help).
CommandLineResult ParseCommandLine(const std::string& commandLine);
// The option table in the option library's layout (caption "Allowed
// options", line length 80, description column 40).
std::string CommandLineHelpText();

// The Windows splitter: blanks separate, double quotes group, 2n
// backslashes before a quote give n and the quote groups, 2n + 1 give n and
// a literal quote; other backslashes are kept.
std::vector<std::string> SplitCommandLine(const std::string& line);
// One command line from an argument vector, quoted so that the Windows
// splitter gives back the same arguments.
std::string JoinCommandLine(const std::vector<std::string>& arguments);
// The arguments (program path first) with the source paths, the
// destination and a bare file path made absolute against the current
// folder: what a second instance hands to the running one, which reads
// relative paths against its own folder. Every other argument is kept.
std::vector<std::string> WithAbsolutePaths(const std::vector<std::string>& arguments);

std::string FetchStringOption(const boost::program_options::variables_map& vm, const char* name);
std::vector<std::string> FetchChannelList(const boost::program_options::variables_map& vm);
// "YYYY-MM-DD hh:mm:ss[.ffffff]" or "YYYYMMDDThhmmss[.ffffff]", local time,
// as UTC; not-a-date-time when absent or empty. Any other text, and dates or
// times of day that do not exist, throw with a message naming the option and
// the expected form.
boost::posix_time::ptime FetchTimeOption(const boost::program_options::variables_map& vm, const char* name);
int FetchSwitchOption(const boost::program_options::variables_map& vm, const char* name);
// "all" becomes the archive drives; an empty source takes a bare file path
// (the only argument after the program, or the third with the portable
// switch).
void FixUpSource(StartOptions& options, const std::vector<std::string>& arguments);
