#include "app/CommandLine.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <boost/algorithm/string/split.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/program_options.hpp>

#include "FSImplementation/FSInfo.h"
#include "config/QApplicationSettings.h"
#include "config/QLocalizer.h"

namespace po = boost::program_options;
namespace pt = boost::posix_time;

namespace {

std::string Local8(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

po::options_description Description()
{
    const std::string timeForm = " (\"YYYY-MM-DD hh:mm:ss.zzz\")";
    const std::string switchForm = " (\"1\" / \"0\")";
    po::options_description description(Local8(QLocalizer::tr("Allowed options")), 80, 40);
    description.add_options()
        ("help", Local8(QLocalizer::tr("this help message")).c_str())
        ("source", po::value<std::string>(), Local8(QLocalizer::tr("file or folder to play or export")).c_str())
        ("channels", po::value<std::string>(),
         (Local8(QLocalizer::tr("channels to play or export")) + " (\"1 2 3 4\")").c_str())
        ("destination", po::value<std::string>(), Local8(QLocalizer::tr("destination for export or frame")).c_str())
        ("from", po::value<std::string>(), (Local8(QLocalizer::tr("export start time")) + timeForm).c_str())
        ("to", po::value<std::string>(), (Local8(QLocalizer::tr("export stop time")) + timeForm).c_str())
        ("time", po::value<std::string>(), (Local8(QLocalizer::tr("frame time")) + timeForm).c_str())
        ("topmost", po::value<int>(), (Local8(QLocalizer::tr("show topmost")) + switchForm).c_str())
        ("single", po::value<int>(), (Local8(QLocalizer::tr("single application instance")) + switchForm).c_str())
        ("titles", po::value<int>(), (Local8(QLocalizer::tr("show titles")) + switchForm).c_str())
        ("portable", Local8(QLocalizer::tr("portable mode")).c_str())
        ("dump", Local8(QLocalizer::tr("test dump")).c_str())
        ("executable", po::value<std::string>(), Local8(QLocalizer::tr("source exe file to extract")).c_str())
        ("extract", po::value<std::string>(), Local8(QLocalizer::tr("extract video from portable exe file")).c_str());
    return description;
}

pt::ptime LocalPtimeToUtc(const pt::ptime& local)
{
    if (local.is_special())
        return local;
    const auto date = local.date();
    const auto time = local.time_of_day();
    const QDateTime value(QDate(date.year(), date.month(), date.day()),
                          QTime(static_cast<int>(time.hours()), static_cast<int>(time.minutes()),
                                static_cast<int>(time.seconds()), static_cast<int>(time.fractional_seconds() / 1000)),
                          Qt::LocalTime);
    const qint64 ms = value.toMSecsSinceEpoch();
    return pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(ms) +
           pt::microseconds(time.fractional_seconds() % 1000);
}

std::string Absolute(const std::string& path)
{
    if (path.empty() || QFileInfo(QString::fromStdString(path)).isAbsolute())
        return path;
    return QFileInfo(QDir::current(), QString::fromStdString(path)).absoluteFilePath().toStdString();
}

// Each path of a source list made absolute; "all" (the archive drives) is
// no path.
std::string AbsoluteSource(const std::string& source)
{
    if (source.empty() || source == "all")
        return source;
    std::vector<std::string> paths = Storage::FSInfo::splitPaths(source);
    for (std::string& path : paths)
        path = Absolute(path);
    return Storage::FSInfo::joinPaths(paths);
}

// The option library fills a message template by replacing each
// placeholder until none is left, so an option written as
// "-%canonical_option%" makes that loop endless. Here the template is
// filled in one pass, with the library's own values and texts.
class OptionErrorText : public po::error_with_option_name {
public:
    explicit OptionErrorText(const po::error_with_option_name& error) : po::error_with_option_name(error) {}

    std::string Text() const
    {
        std::map<std::string, std::string> values = m_substitutions;
        values["canonical_option"] = get_canonical_option_name();
        values["prefix"] = get_canonical_option_prefix();
        std::string text = m_error_template;
        // A missing value drops its phrase ("option '%canonical_option%'"
        // becomes "option").
        for (const auto& [name, phrase] : m_substitution_defaults) {
            const auto value = values.find(name);
            if (value != values.end() && !value->second.empty())
                continue;
            for (size_t at = text.find(phrase.first); at != std::string::npos;
                 at = text.find(phrase.first, at + phrase.second.size()))
                text.replace(at, phrase.first.size(), phrase.second);
        }
        std::string filled;
        for (size_t at = 0; at < text.size();) {
            const size_t end = text[at] == '%' ? text.find('%', at + 1) : std::string::npos;
            if (end != std::string::npos) {
                const auto value = values.find(text.substr(at + 1, end - at - 1));
                if (value != values.end()) {
                    filled += value->second;
                    at = end + 1;
                    continue;
                }
            }
            filled += text[at++];
        }
        return filled;
    }
};

// A time as the user wrote it, printable whatever bytes it holds.
std::string Printable(const std::string& text)
{
    std::string printable;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            printable += escaped;
        } else {
            printable += c;
        }
    }
    return printable;
}

// Exactly `count` decimal digits at `at`.
bool ReadDigits(const std::string& text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD hh:mm:ss" or "YYYYMMDDThhmmss", either with an optional
// fraction of one to six digits after a '.'; nullopt for anything else,
// including dates and times of day that do not exist.
std::optional<pt::ptime> ReadLocalTime(const std::string& text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    size_t end = 0;
    if (text.size() >= 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':' &&
        text[16] == ':') {
        if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day) ||
            !ReadDigits(text, 11, 2, hour) || !ReadDigits(text, 14, 2, minute) || !ReadDigits(text, 17, 2, second))
            return std::nullopt;
        end = 19;
    } else if (text.size() >= 15 && text[8] == 'T') {
        if (!ReadDigits(text, 0, 4, year) || !ReadDigits(text, 4, 2, month) || !ReadDigits(text, 6, 2, day) ||
            !ReadDigits(text, 9, 2, hour) || !ReadDigits(text, 11, 2, minute) || !ReadDigits(text, 13, 2, second))
            return std::nullopt;
        end = 15;
    } else {
        return std::nullopt;
    }
    int microseconds = 0;
    if (end < text.size()) {
        const size_t digits = text.size() - end - 1;
        if (text[end] != '.' || digits < 1 || digits > 6 || !ReadDigits(text, end + 1, digits, microseconds))
            return std::nullopt;
        for (size_t i = digits; i < 6; ++i)
            microseconds *= 10;
    }
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    try {
        const boost::gregorian::date date(static_cast<unsigned short>(year), static_cast<unsigned short>(month),
                                          static_cast<unsigned short>(day));
        return pt::ptime(date, pt::hours(hour) + pt::minutes(minute) + pt::seconds(second) +
                                   pt::microseconds(microseconds));
    } catch (const std::out_of_range&) {
        return std::nullopt;  // no such day, or a year outside 1400..9999
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line)
{
    std::vector<std::string> result;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    size_t i = 0;
    while (i < line.size() && blank(line[i]))
        ++i;
    if (i == line.size())
        return result;
    std::string current;
    bool quoted = false;
    bool emptyQuote = false;
    size_t backslashes = 0;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            // 2n backslashes and a quote: n backslashes and a quote boundary;
            // 2n + 1: n backslashes and a literal quote.
            current.append(backslashes / 2, '\\');
            if (backslashes % 2 == 0) {
                emptyQuote = quoted && current.empty();
                quoted = !quoted;
            } else {
                current += '"';
            }
            backslashes = 0;
        } else if (c == '\\') {
            ++backslashes;
        } else {
            current.append(backslashes, '\\');
            backslashes = 0;
            if (blank(c) && !quoted) {
                result.push_back(current);
                current.clear();
                emptyQuote = false;
                while (i + 1 < line.size() && blank(line[i + 1]))
                    ++i;
            } else {
                current += c;
            }
        }
    }
    current.append(backslashes, '\\');
    if (!current.empty() || quoted || emptyQuote)
        result.push_back(current);
    return result;
}

std::string CommandLineHelpText()
{
    std::ostringstream text;
    text << Description();
    return text.str();
}

std::string FetchStringOption(const po::variables_map& vm, const char* name)
{
    return vm.count(name) != 0 ? vm[name].as<std::string>() : std::string();
}

std::vector<std::string> FetchChannelList(const po::variables_map& vm)
{
    std::vector<std::string> channels;
    const std::string text = FetchStringOption(vm, "channels");
    if (!text.empty())
        boost::split(channels, text, [](char c) { return c == ' '; });
    return channels;
}

pt::ptime FetchTimeOption(const po::variables_map& vm, const char* name)
{
    const std::string text = FetchStringOption(vm, name);
    if (text.empty())
        return pt::not_a_date_time;
    const std::optional<pt::ptime> local = ReadLocalTime(text);
    if (!local)
        throw std::invalid_argument("the value ('" + Printable(text) + "') for option '--" + name +
                                    "' is not a time of the form \"YYYY-MM-DD hh:mm:ss.zzz\" (or \"YYYYMMDDThhmmss\")");
    return LocalPtimeToUtc(*local);
}

int FetchSwitchOption(const po::variables_map& vm, const char* name)
{
    if (vm.count(name) == 0)
        return -1;
    return vm[name].as<int>() != 0 ? 1 : 0;
}

void FixUpSource(StartOptions& options, const std::vector<std::string>& arguments)
{
    if (options.source == "all")
        options.source = Storage::FSInfo::joinPaths(Storage::FSInfo::getArchiveDrives());
    if (!options.source.empty())
        return;
    auto regularFile = [](const std::string& path) {
        return std::filesystem::is_regular_file(std::filesystem::path(path));  // throws on errors
    };
    if (arguments.size() == 3 && options.portable && regularFile(arguments[2]))
        options.source = arguments[2];
    else if (arguments.size() == 2 && regularFile(arguments[1]))
        options.source = arguments[1];
}

CommandLineResult BuildCommandLineOptions(const std::string& commandLine)
{
    CommandLineResult result;
    try {
        const po::options_description description = Description();
        const std::vector<std::string> arguments = SplitCommandLine(commandLine);
        po::variables_map vm;
        po::store(po::command_line_parser(arguments).options(description).allow_unregistered().run(), vm);
        // Unregistered tokens are let through only to ignore positional
        // ones; an unknown "--name" is an error.
        for (const auto& option : po::command_line_parser(arguments)
                                      .options(description)
                                      .allow_unregistered()
                                      .run()
                                      .options) {
            if (option.unregistered && !option.original_tokens.empty() &&
                option.original_tokens.front().rfind("-", 0) == 0)
                throw po::unknown_option(option.original_tokens.front());
        }
        po::notify(vm);
        result.dump = vm.count("dump") != 0;
        if (vm.count("help") != 0) {
            result.help = true;
            return result;
        }
        StartOptions& options = result.options;
        options.source = FetchStringOption(vm, "source");
        options.channels = FetchChannelList(vm);
        options.destination = FetchStringOption(vm, "destination");
        options.extract = FetchStringOption(vm, "extract");
        options.executable = FetchStringOption(vm, "executable");
        options.from = FetchTimeOption(vm, "from");
        options.to = FetchTimeOption(vm, "to");
        options.time = FetchTimeOption(vm, "time");
        options.topmost = FetchSwitchOption(vm, "topmost");
        options.single = FetchSwitchOption(vm, "single");
        options.titles = FetchSwitchOption(vm, "titles");
        options.portable = vm.count("portable") != 0;
        FixUpSource(options, arguments);
        options.source = AbsoluteSource(options.source);
        options.destination = Absolute(options.destination);
    } catch (const po::error_with_option_name& e) {
        result = CommandLineResult{};
        result.rejected = true;
        result.error = OptionErrorText(e).Text();
    } catch (const std::exception& e) {
        result = CommandLineResult{};
        result.rejected = true;
        result.error = e.what();
    }
    return result;
}

CommandLineResult ParseCommandLine(const std::string& commandLine)
{
    CommandLineResult result = BuildCommandLineOptions(commandLine);
    if (!result.rejected && !result.help)
        QApplicationSettings::Instance().ApplyStartOptions(result.options);
    return result;
}

std::string JoinCommandLine(const std::vector<std::string>& arguments)
{
    std::string line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0)
            line += ' ';
        const std::string& argument = arguments[i];
        line += '"';
        size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"')
                line.append(backslashes * 2 + 1, '\\');
            else
                line.append(backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

std::vector<std::string> WithAbsolutePaths(const std::vector<std::string>& arguments)
{
    po::parsed_options parsed(nullptr);
    try {
        parsed = po::command_line_parser(arguments).options(Description()).allow_unregistered().run();
    } catch (const std::exception&) {
        return arguments;  // not a line that parses: nothing is known to be a path
    }
    std::vector<std::string> result;
    size_t next = 0;
    for (const po::option& option : parsed.options) {
        const std::vector<std::string>& tokens = option.original_tokens;
        if (tokens.empty())
            continue;
        // Tokens the parser keeps no option for ("--") pass unchanged.
        while (next < arguments.size() && arguments[next] != tokens.front())
            result.push_back(arguments[next++]);
        if (next >= arguments.size())
            break;
        const bool program = next == 0;
        next += tokens.size();
        const bool pathOption = option.string_key == "source" || option.string_key == "destination";
        if (program || option.unregistered || (!pathOption && !option.string_key.empty()) || option.value.empty()) {
            result.insert(result.end(), tokens.begin(), tokens.end());
            continue;
        }
        const std::string path =
            option.string_key == "source" ? AbsoluteSource(option.value.front()) : Absolute(option.value.front());
        if (option.string_key.empty()) {
            result.push_back(path);  // a bare file path
        } else if (tokens.size() == 2) {
            result.push_back(tokens.front());
            result.push_back(path);
        } else {
            // "--source=value"
            const std::string& token = tokens.front();
            result.push_back(token.substr(0, token.find('=') + 1) + path);
        }
    }
    result.insert(result.end(), arguments.begin() + static_cast<std::ptrdiff_t>(std::min(next, arguments.size())),
                  arguments.end());
    return result;
}
