// The command line: splitting and joining, the option table, the value
// forms and the bare source path.

#include <gtest/gtest.h>

#include <filesystem>

#include <QDateTime>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "app/CommandLine.h"
#include "config/QApplicationSettings.h"
#include "support/TempDir.h"

using gavex_test::TempDir;
using gavex_test::WriteFileString;
namespace pt = boost::posix_time;

namespace {

TEST(CommandLine, JoinedArgumentsSplitBack)
{
    const std::vector<std::vector<std::string>> cases = {
        {"/opt/Gavex_player", "--source", "/media/my archive"},
        {"prog", "a\"b", "c\\\\\"d", "trailing\\", "", "  spaced  "},
        {"prog", "--channels", "1  2", "x\\y\\"},
    };
    for (const auto& arguments : cases)
        EXPECT_EQ(SplitCommandLine(JoinCommandLine(arguments)), arguments) << JoinCommandLine(arguments);
    // The Windows rules on hand-written lines.
    EXPECT_EQ(SplitCommandLine(R"(p "a b" c\d "e\"f" g\\"h i")"),
              (std::vector<std::string>{"p", "a b", "c\\d", "e\"f", "g\\h i"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(CommandLine, OptionsAndTheirValues)
{
    const CommandLineResult r = BuildCommandLineOptions(
        "prog --source /a|/b --channels \"1  2\" --destination /out --topmost 0 --single=7 --portable "
        "--executable p.exe --extract v.mkv");
    ASSERT_FALSE(r.rejected) << r.error;
    EXPECT_FALSE(r.help);
    const StartOptions& o = r.options;
    EXPECT_EQ(o.source, "/a|/b");
    EXPECT_EQ(o.channels, (std::vector<std::string>{"1", "", "2"}));
    EXPECT_EQ(o.destination, "/out");
    EXPECT_EQ(o.topmost, 0);
    EXPECT_EQ(o.single, 1);
    EXPECT_EQ(o.titles, -1);
    EXPECT_TRUE(o.portable);
    EXPECT_EQ(o.executable, "p.exe");
    EXPECT_EQ(o.extract, "v.mkv");
    EXPECT_TRUE(o.time.is_not_a_date_time());

    const StartOptions defaults = BuildCommandLineOptions("prog").options;
    EXPECT_TRUE(defaults.source.empty());
    EXPECT_TRUE(defaults.channels.empty());
    EXPECT_EQ(defaults.topmost, -1);
    EXPECT_FALSE(defaults.portable);
}

TEST(CommandLine, TimeFormsAreLocalTimes)
{
    const CommandLineResult a = BuildCommandLineOptions("prog --time \"2012-03-05 10:15:00\"");
    const CommandLineResult b = BuildCommandLineOptions("prog --time 20120305T101500");
    const CommandLineResult c = BuildCommandLineOptions("prog --from \"2012-03-05 10:15:00.250\"");
    ASSERT_FALSE(a.rejected || b.rejected || c.rejected);
    EXPECT_EQ(a.options.time, b.options.time);
    const QDateTime local(QDate(2012, 3, 5), QTime(10, 15), Qt::LocalTime);
    const pt::ptime expected =
        pt::ptime(boost::gregorian::date(1970, 1, 1)) + pt::milliseconds(local.toMSecsSinceEpoch());
    EXPECT_EQ(a.options.time, expected);
    EXPECT_EQ(c.options.from, expected + pt::milliseconds(250));
}

TEST(CommandLine, RejectedLinesAndHelp)
{
    for (const char* line : {"prog --bogus", "prog --topmost yes", "prog --time tomorrow", "prog --source",
                             "prog --time 2012-13-45T10"}) {
        const CommandLineResult r = BuildCommandLineOptions(line);
        EXPECT_TRUE(r.rejected) << line;
        EXPECT_FALSE(r.error.empty()) << line;
        EXPECT_TRUE(r.options.source.empty()) << "no partial options survive";
    }
    const CommandLineResult help = BuildCommandLineOptions("prog --source /x --help --topmost 1");
    EXPECT_TRUE(help.help);
    EXPECT_FALSE(help.rejected);
    const std::string text = CommandLineHelpText();
    EXPECT_EQ(text.rfind("Allowed options:\n", 0), 0u) << text;
    for (const char* name : {"--help", "--source arg", "--channels arg", "--destination arg", "--from arg", "--to arg",
                             "--time arg", "--topmost arg", "--single arg", "--titles arg", "--portable", "--dump",
                             "--executable arg", "--extract arg"})
        EXPECT_NE(text.find(name), std::string::npos) << name;
    EXPECT_NE(text.find("export start time (\"YYYY-MM-DD hh:mm:ss.zzz\")"), std::string::npos);
    EXPECT_TRUE(BuildCommandLineOptions("prog --dump").dump);
}

// The option library's messages hold placeholders such as
// "%canonical_option%"; an option or value that holds one must still give a
// message (and not hang), the one the library gives for other tokens.
TEST(CommandLine, RejectionMessagesKeepTheTokensAsWritten)
{
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"prog --bogus", "unrecognised option '--bogus'"},
        {"prog -%canonical_option%", "unrecognised option '-%canonical_option%'"},
        {"prog --%original_token%", "unrecognised option '--%original_token%'"},
        {"prog -%original_token%%prefix%", "unrecognised option '-%original_token%%prefix%'"},
        {"prog --topmost %value%", "the argument ('%value%') for option '--topmost' is invalid"},
        {"prog --titles=%canonical_option%", "the argument ('%canonical_option%') for option '--titles' is invalid"},
        {"prog --source", "the required argument for option '--source' is missing"},
        {"prog --source a --source b", "option '--source' cannot be specified more than once"},
    };
    for (const auto& c : cases) {
        const CommandLineResult r = BuildCommandLineOptions(c.line);
        EXPECT_TRUE(r.rejected) << c.line;
        EXPECT_EQ(r.error, c.message) << c.line;
    }
}

TEST(CommandLine, TimesMustHaveTheFormOfTheHelp)
{
    const pt::ptime base = BuildCommandLineOptions("prog --time \"2012-02-29 23:59:59\"").options.time;
    ASSERT_FALSE(base.is_special());
    const struct {
        const char* text;
        int64_t microseconds;  // after base
    } accepted[] = {
        {"2012-02-29 23:59:59.5", 500000},
        {"2012-02-29 23:59:59.000250", 250},
        {"20120229T235959", 0},
        {"20120229T235959.125", 125000},
    };
    for (const auto& c : accepted) {
        const CommandLineResult r = BuildCommandLineOptions(std::string("prog --from \"") + c.text + "\"");
        ASSERT_FALSE(r.rejected) << c.text << ": " << r.error;
        EXPECT_EQ((r.options.from - base).total_microseconds(), c.microseconds) << c.text;
    }
    // Each of these once reached the date library's own parsing, which takes
    // any byte as a digit or says only "bad lexical cast".
    const char* const refused[] = {
        "\x8c" "11895-03-05",
        "\x8c" "012-03-05 10:15:00",
        "2012-03-05",
        "2012-3-5 10:15:00",
        "2012-03-05 10:15",
        "2012-03-05T10:15:00",
        "2012-03-05 10:15:00.",
        "2012-03-05 10:15:00.1234567",
        "2012-03-05 10:15:00 ",
        "2011-02-29 10:00:00",
        "2012-13-01 10:00:00",
        "2012-03-05 24:00:00",
        "2012-03-05 10:60:00",
        "0999-03-05 10:00:00",
        "+012-03-05 10:15:00",
        "2012030T101500",
        "tomorrow",
    };
    for (const char* text : refused) {
        for (const char* option : {"time", "from", "to"}) {
            const CommandLineResult r =
                BuildCommandLineOptions(std::string("prog --") + option + " \"" + text + "\"");
            EXPECT_TRUE(r.rejected) << option << " " << text;
            EXPECT_NE(r.error.find(std::string("option '--") + option + "'"), std::string::npos) << r.error;
            EXPECT_NE(r.error.find("\"YYYY-MM-DD hh:mm:ss.zzz\""), std::string::npos) << r.error;
        }
    }
    // The value is shown printable whatever bytes it holds.
    EXPECT_NE(BuildCommandLineOptions("prog --time \"\x8c" "1\x01\"").error.find("('\\x8c1\\x01')"),
              std::string::npos);
}

// A second instance hands its line to the running one, which reads it in
// its own folder: the paths in it must not depend on that folder.
TEST(CommandLine, ForwardedPathsAreAbsoluteInTheSendersFolder)
{
    TempDir sender("cmdline-sender");
    TempDir receiver("cmdline-receiver");
    std::filesystem::create_directory(sender / "sample-archive");
    WriteFileString(sender / "clip.mkv", "x");
    const std::string archive = sender / "sample-archive";
    const struct {
        std::vector<std::string> arguments;
        std::string source;  // as the receiver reads it
    } cases[] = {
        {{"prog", "--source", "sample-archive"}, archive},
        {{"prog", "--source=sample-archive|/abs/b"}, archive + "|/abs/b"},
        {{"prog", "--sour", "sample-archive", "--topmost", "0"}, archive},
        {{"prog", "clip.mkv"}, sender / "clip.mkv"},
        {{"prog", "--portable", "clip.mkv"}, sender / "clip.mkv"},
        {{"prog", "--source", "ALL"}, sender / "ALL"},
    };
    const std::filesystem::path before = std::filesystem::current_path();
    for (const auto& c : cases) {
        std::filesystem::current_path(sender.path());
        const std::vector<std::string> forwarded = WithAbsolutePaths(c.arguments);
        std::filesystem::current_path(receiver.path());
        const CommandLineResult r = BuildCommandLineOptions(JoinCommandLine(forwarded));
        EXPECT_FALSE(r.rejected) << r.error;
        EXPECT_EQ(r.options.source, c.source) << JoinCommandLine(forwarded);
        EXPECT_EQ(forwarded.size(), c.arguments.size()) << "the bare path rule counts arguments";
    }
    std::filesystem::current_path(before);
    // What is not a path stays as written.
    const std::vector<std::string> kept = {"/opt/prog", "--source", "all", "--channels", "1 2", "--time",
                                           "2012-03-05 10:15:00", "--single=0", "--dump"};
    EXPECT_EQ(WithAbsolutePaths(kept), kept);
}

TEST(CommandLine, BareFilePathsAndRelativeSources)
{
    TempDir dir("cmdline");
    WriteFileString(dir / "clip.mkv", "x");
    const std::string file = dir / "clip.mkv";
    const struct {
        std::string line;
        std::string source;
    } cases[] = {
        {"prog \"" + file + "\"", file},
        {"prog \"" + dir.path() + "\"", ""},  // folders need --source
        {"prog --portable \"" + file + "\"", file},
        {"prog --topmost=1 \"" + file + "\"", ""},
        {"prog \"" + file + "\" extra", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildCommandLineOptions(c.line).options.source, c.source) << c.line;

    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const StartOptions relative = BuildCommandLineOptions("prog --source clip.mkv|sub/b --destination out").options;
    const StartOptions upper = BuildCommandLineOptions("prog --source ALL").options;
    std::filesystem::current_path(before);
    EXPECT_EQ(relative.source, file + "|" + dir.path() + "/sub/b");
    EXPECT_EQ(relative.destination, dir / "out");
    EXPECT_EQ(upper.source, dir / "ALL") << "only lower-case \"all\" means the drives";
}

TEST(CommandLine, ParseAppliesTheOverrides)
{
    QApplicationSettings& settings = QApplicationSettings::Instance();
    settings.Live.TopMost = true;
    ParseCommandLine("prog --topmost 0");
    EXPECT_FALSE(settings.Live.TopMost);
    ParseCommandLine("prog");
    EXPECT_FALSE(settings.Live.TopMost) << "an absent switch leaves the setting";
    ParseCommandLine("prog --topmost 1 --bogus");
    EXPECT_FALSE(settings.Live.TopMost) << "a rejected line changes nothing";
}

}  // namespace
