#include "app/CommandLine.h"

#include <filesystem>
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
    pt::ptime local;
    try {
        local = pt::time_from_string(text);
    } catch (const std::exception&) {
        local = pt::from_iso_string(text);
    }
    if (local.is_special())
        throw std::invalid_argument("unreadable time: " + text);
    return LocalPtimeToUtc(local);
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
        if (options.source != "all") {
            std::vector<std::string> paths = Storage::FSInfo::splitPaths(options.source);
            for (std::string& path : paths)
                path = Absolute(path);
            if (!options.source.empty())
                options.source = Storage::FSInfo::joinPaths(paths);
        }
        options.destination = Absolute(options.destination);
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
