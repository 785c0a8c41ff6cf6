// Subtitle sources: SubRip files (hand-written fixtures), subtitle streams
// inside files made by the ffmpeg tool, the lookup by time and the markup
// that styles a title line.
#include <gtest/gtest.h>

#include <cstdlib>

#include "MediaTestSupport.h"
#include "render/Titles.h"
#include "media/Subtitles.h"
#include "support/TempDir.h"

using gavex_test::TempDir;
using gavex_test::WriteFileString;

namespace {

class SubtitlesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mediatest::UseRegistry("subtitles", "");
        mediatest::LogCapture::Instance().Clear();
    }

    // Entries of an SRT text, as (key, text, x, y, w, h) rows.
    filters::BaseSubtitlesSource::EntryMap Parse(const std::string& srt)
    {
        const std::string path = m_dir / "cues.srt";
        WriteFileString(path, srt);
        filters::BaseSubtitlesSource::EntryMap entries;
        EXPECT_TRUE(filters::ParseSrtFile(path, entries));
        return entries;
    }

    TempDir m_dir{"subtitles"};
};

struct Cue {
    int64_t key;
    std::wstring text;
    double x, y, w, h;
};

void ExpectCues(const filters::BaseSubtitlesSource::EntryMap& entries, const std::vector<Cue>& expected)
{
    ASSERT_EQ(entries.size(), expected.size());
    size_t i = 0;
    for (const auto& [key, entry] : entries) {
        SCOPED_TRACE(i);
        EXPECT_EQ(key, expected[i].key);
        EXPECT_EQ(entry.text, expected[i].text);
        EXPECT_EQ(entry.x, expected[i].x);
        EXPECT_EQ(entry.y, expected[i].y);
        EXPECT_EQ(entry.width, expected[i].w);
        EXPECT_EQ(entry.height, expected[i].h);
        ++i;
    }
}

TEST_F(SubtitlesTest, SrtCuesKeysLinesAndPositions)
{
    const auto entries = Parse(
        "1\n00:00:00,000 --> 00:00:01,000\nfirst\n\n"
        "2\n00:01:00,000 --> 00:01:02,000 X1:10 X2:110 Y1:20 Y2:70\ntwo\nlines\n\n"
        "3\n01:02:03,456 --> 01:02:04,000\nsame start A\n\n"
        "4\n01:02:03,456 --> 01:02:05,000\nsame start B\n\n"
        "5\n01:10:00,000 --> 01:10:01,000\n\n"
        "6\n02:00:00,000 --> 02:00:01,000\nlast without blank line");
    ExpectCues(entries, {
                            {0, L"first", 0, 0, 0, 0},
                            {60000, L"two\nlines", 10, 20, 100, 50},
                            {3723456, L"same start A", 0, 0, 0, 0},
                            {3723456, L"same start B", 0, 0, 0, 0},
                            {4200000, L"", 0, 0, 0, 0},
                            {7200000, L"last without blank line", 0, 0, 0, 0},
                        });
}

TEST_F(SubtitlesTest, SrtWithCrlfAndNoFinalBlankLine)
{
    const auto entries = Parse(
        "1\r\n00:00:01,500 --> 00:00:02,000\r\nline one\r\nline two\r\n\r\n"
        "2\r\n00:00:03,000 --> 00:00:04,000\r\nend\r\n");
    ExpectCues(entries, {{1500, L"line one\nline two", 0, 0, 0, 0}, {3000, L"end", 0, 0, 0, 0}});
}

TEST_F(SubtitlesTest, SrtExtremePositionsGiveTheirTrueSize)
{
    // Differences of values at the ends of the integer range.
    const auto entries = Parse(
        "00:00:05,000 --> 00:00:06,000 X1:-9223372036854775808 X2:9223372036854775807 "
        "Y1:9223372036854775807 Y2:-9223372036854775808\ntext\n\n");
    ExpectCues(entries, {{5000, L"text", -9223372036854775808.0, 9223372036854775807.0, 18446744073709551615.0,
                          -18446744073709551615.0}});
}

TEST_F(SubtitlesTest, SrtBadPositionKeepsTheCue)
{
    const auto entries = Parse("00:00:05,000 --> 00:00:06,000 X1:a X2:1 Y1:2 Y2:3\ntext\n\n");
    ExpectCues(entries, {{5000, L"text", 0, 0, 0, 0}});
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains("Can't parse title position: line( X1:a X2:1 Y1:2 Y2:3)"));
}

TEST_F(SubtitlesTest, SrtTextInLegacyCodePage)
{
    setenv("GAVEX_LEGACY_CODEPAGE", "CP1251", 1);
    // "Привет" in Windows-1251, then the same word in UTF-8.
    const auto entries = Parse(
        "00:00:00,000 --> 00:00:01,000\n\xCF\xF0\xE8\xE2\xE5\xF2\n\n"
        "00:00:02,000 --> 00:00:03,000\n\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\n\n");
    unsetenv("GAVEX_LEGACY_CODEPAGE");
    ExpectCues(entries, {{0, L"\u041f\u0440\u0438\u0432\u0435\u0442", 0, 0, 0, 0},
                         {2000, L"\u041f\u0440\u0438\u0432\u0435\u0442", 0, 0, 0, 0}});
}

TEST_F(SubtitlesTest, ExternalSourceOpensOnceAndReportsMissingFiles)
{
    const std::string path = m_dir / "cam.srt";
    WriteFileString(path, "00:00:01,000 --> 00:00:02,000\nhello\n\n");
    filters::ExternalSubtitlesSource source;
    EXPECT_TRUE(source.Open(path, "cam.srt"));
    EXPECT_TRUE(source.Open(path, "cam.srt"));  // nothing read again
    EXPECT_EQ(source.GetEntries().size(), 1u);
    EXPECT_EQ(source.GetStreamId(), "cam.srt");
    EXPECT_EQ(source.IsExternal(), 1);

    filters::ExternalSubtitlesSource missing;
    EXPECT_FALSE(missing.Open(m_dir / "none.srt", "none.srt"));
    EXPECT_EQ(missing.GetStreamId(), "");
    EXPECT_TRUE(mediatest::LogCapture::Instance().Contains("Can't open file(" + (m_dir / "none.srt") +
                                                           "), message(No such file or directory)"));
}

TEST_F(SubtitlesTest, LookupByTime)
{
    const std::string path = m_dir / "cues.srt";
    WriteFileString(path,
                    "00:00:01,000 --> 00:00:02,000\nA\n\n"
                    "00:00:03,000 --> 00:00:04,000\nB1\n\n"
                    "00:00:03,000 --> 00:00:04,000\nB2\n\n"
                    "00:00:07,000 --> 00:00:08,000\nC\n\n");
    filters::ExternalSubtitlesSource source;
    ASSERT_TRUE(source.Open(path, "cues.srt"));
    const struct {
        int64_t time;
        std::vector<std::wstring> texts;
    } cases[] = {
        {0, {}},          {999, {}},          {1000, {L"A"}},  {2999, {L"A"}},
        {3000, {L"B1", L"B2"}}, {6999, {L"B1", L"B2"}}, {7000, {L"C"}}, {1000000, {L"C"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> texts;
        for (const SubtitleEntry& e : FindSubtitleEntriesAt(source, c.time))
            texts.push_back(e.text);
        EXPECT_EQ(texts, c.texts) << "at " << c.time;
    }
    filters::ExternalSubtitlesSource empty;
    EXPECT_TRUE(FindSubtitleEntriesAt(empty, 5000).empty());
}

struct MarkupCase {
    const char* name;
    std::wstring text;
    std::wstring plain;
    int32_t alignment;  // 0: unchanged
    uint32_t color;     // 0: unchanged (white)
    uint32_t fontSize;  // 0: unchanged
    std::string face;   // empty: unchanged
    bool bold, italic;
};

TEST(SubtitleMarkup, StylesTheLineAndReturnsPlainText)
{
    const MarkupCase cases[] = {
        {"plain", L"Just text", L"Just text", 0, 0, 0, "", false, false},
        {"alignment and colour", L"{\\an8}<font color=\"#ff0000\">Text</font>", L"Text", 0xA4, 0xFFFF0000u, 0, "",
         false, false},
        {"bottom left", L"{\\an1}x", L"x", 0x41, 0, 0, "", false, false},
        {"alignment 2 keeps VCenter", L"{\\an2}x", L"x", 0xC4, 0, 0, "", false, false},
        {"alignment not at start", L"x{\\an8}", L"x{\\an8}", 0, 0, 0, "", false, false},
        {"alignment out of range", L"{\\an0}x", L"x", 0, 0, 0, "", false, false},
        {"size and face", L"<font size=\"24\" face=\"Arial\">Big</font>", L"Big", 0, 0, 24, "Arial", false, false},
        {"named colour", L"<font color=\"blue\">B</font>", L"B", 0, 0xFF0000FFu, 0, "", false, false},
        {"unknown colour", L"<font color=\"nocolour\">B</font>", L"B", 0, 0, 0, "", false, false},
        {"bold and italic words", L"<b>bold</b> and <i>italic</i>", L"bold and italic", 0, 0, 0, "", true, true},
        {"bold inside font", L"<font color=\"#00ff00\">a <b>b</b> c</font>", L"a b c", 0, 0xFF00FF00u, 0, "", true,
         false},
        {"lone opening tag", L"<b>not closed", L"not closed", 0, 0, 0, "", false, false},
    };
    for (const MarkupCase& c : cases) {
        SCOPED_TRACE(c.name);
        render::Titles titles;
        const auto line = titles.GetTitle(4);
        render::TitleLayout shown;
        line->Layout(shown, QRectF(0, 0, 100, 100));  // nothing left to show
        EXPECT_EQ(ApplySubtitleMarkup(titles, 4, c.text), c.plain);
        EXPECT_EQ(line->GetAlignment(), c.alignment ? c.alignment : int32_t(Qt::AlignLeft | Qt::AlignTop));
        EXPECT_EQ(line->GetColor().rgba(), c.color ? c.color : 0xFFFFFFFFu);
        const QFont font = line->GetFont();
        EXPECT_EQ(font.pointSize(), c.fontSize ? static_cast<int>(c.fontSize) : 9);
        EXPECT_EQ(font.family().toStdString(), c.face.empty() ? std::string("Courier New") : c.face);
        EXPECT_EQ(font.bold(), c.bold);
        EXPECT_EQ(font.italic(), c.italic);
        // Bold and italic only change the font; the other styles must be laid
        // out again.
        EXPECT_EQ(titles.IsChanged(), c.alignment || c.color || c.fontSize || !c.face.empty());
    }
}

TEST(SubtitleMarkup, ReadersOfNumbersAndStrings)
{
    size_t pos = 0;
    EXPECT_EQ(ReadMarkupNumber(L"{\\an7}text", pos, L"{\\an", L"}"), 7);
    EXPECT_EQ(pos, 6u);
    pos = 1;
    EXPECT_EQ(ReadMarkupNumber(L"x{\\an7}text", pos, L"{\\an", L"}"), 7);
    pos = 0;
    EXPECT_EQ(ReadMarkupNumber(L"{\\an}", pos, L"{\\an", L"}"), 0);  // too short to hold a number
    EXPECT_EQ(pos, 0u);
    pos = 0;
    EXPECT_EQ(ReadMarkupNumber(L"{\\anx}abc", pos, L"{\\an", L"}"), 0);
    EXPECT_EQ(pos, 6u);
    pos = 0;
    EXPECT_EQ(ReadMarkupNumber(L"size=\"99999999999999999999\">", pos, L"size=\"", L"\""), 0);  // too big
    std::string value;
    EXPECT_TRUE(ReadMarkupString(L"<font face=\"Times\">", L"face=\"", value));
    EXPECT_EQ(value, "Times");
    EXPECT_FALSE(ReadMarkupString(L"<font face=\"Times>", L"face=\"", value));
    EXPECT_FALSE(ReadMarkupString(L"<font>", L"face=\"", value));
}

// Damaged SubRip files: whatever the bytes, the reader ends without failing
// and every cue it keeps has a time of its own.
TEST_F(SubtitlesTest, DamagedSrtFilesNeverFail)
{
    const std::string valid =
        "1\n00:00:01,000 --> 00:00:02,000 X1:1 X2:5 Y1:2 Y2:9\nline\n\n2\n00:59:59,999 --> 01:00:00,000\n<b>x</b>\n\n";
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        std::string bytes = valid;
        for (int k = 0; k < 8; ++k) {
            seed = seed * 1103515245u + 12345u;
            bytes[(seed >> 8) % bytes.size()] = static_cast<char>(seed >> 24);
        }
        filters::BaseSubtitlesSource::EntryMap entries = Parse(bytes);
        for (const auto& [key, entry] : entries)
            EXPECT_GE(key, 0);
        render::Titles titles;
        for (const auto& [key, entry] : entries)
            ApplySubtitleMarkup(titles, 3, entry.text);
    }
}

// --- in-file streams ----------------------------------------------------------

class InFileSubtitlesTest : public SubtitlesTest {};

TEST_F(InFileSubtitlesTest, StreamChosenByTitleLoadsEveryPacket)
{
    setenv("GAVEX_LEGACY_CODEPAGE", "CP1251", 1);
    WriteFileString(m_dir / "a.srt",
                    "1\n00:00:00,500 --> 00:00:01,000\nfirst A\n\n2\n00:00:01,500 --> 00:00:02,000\nsecond A\n\n");
    // Windows-1251 bytes, copied into the file as they are.
    WriteFileString(m_dir / "b.srt", "1\n00:00:01,000 --> 00:00:02,000\n\xCF\xF0\xE8\xE2\xE5\xF2\n\n");
    const std::string media = m_dir / "subs.mkv";
    ASSERT_TRUE(mediatest::Run("ffmpeg -hide_banner -loglevel error -y -f lavfi -t 3 -i testsrc2=size=64x48:rate=10 "
                               "-sub_charenc UTF-8 -i '" + (m_dir / "a.srt") + "' -i '" + (m_dir / "b.srt") +
                               "' -map 0 -map 1 -map 2 -c:v mpeg4 -c:s:0 srt -c:s:1 copy "
                               "-metadata:s:s:0 title=Alpha -metadata:s:s:1 title=Beta '" + media + "'"));

    filters::FFmpegSubtitlesSource alpha;
    ASSERT_TRUE(alpha.Open(media, "Alpha"));
    EXPECT_EQ(alpha.IsExternal(), 0);
    EXPECT_EQ(alpha.GetStreamId(), "Alpha");
    std::vector<std::pair<int64_t, std::wstring>> got;
    for (const auto& [key, entry] : alpha.GetEntries())
        got.emplace_back(key, entry.text);
    EXPECT_EQ(got, (std::vector<std::pair<int64_t, std::wstring>>{{500, L"first A"}, {1500, L"second A"}}));

    filters::FFmpegSubtitlesSource beta;
    ASSERT_TRUE(beta.Open(media, "Beta"));
    ASSERT_EQ(beta.GetEntries().size(), 1u);
    EXPECT_EQ(beta.GetEntries().begin()->first, 1000);
    EXPECT_EQ(beta.GetEntries().begin()->second.text, L"\u041f\u0440\u0438\u0432\u0435\u0442");
    unsetenv("GAVEX_LEGACY_CODEPAGE");

    filters::FFmpegSubtitlesSource none;
    EXPECT_FALSE(none.Open(media, "Gamma"));
    EXPECT_FALSE(none.Open(m_dir / "missing.mkv", "Alpha"));
}

}  // namespace
