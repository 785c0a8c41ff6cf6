#include "media/Subtitles.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <boost/regex.hpp>

#include <QColor>
#include <QString>
#include <QTextCodec>

#include "base/Log.h"
#include "base/ModuleDir.h"
#include "base/StringConv.h"
#include "render/Titles.h"
#include "platform/TextCodec.h"

const int32_t kSubtitleAlignments[9] = {0x41, 0xC4, 0x42, 0x81, 0x84, 0x82, 0x21, 0xA4, 0x22};

namespace {

QorLog::CDebug* Log()
{
    return getDefaultDebugInstance();
}

const boost::regex kTimeLine("([0-9]{2}:[0-9]{2}:[0-9]{2},[0-9]{3} --> [0-9]{2}:[0-9]{2}:[0-9]{2},[0-9]{3})");
const boost::regex kPositionLabel("(?:X1:|X2:|Y1:|Y2:)");

const std::wstring kAlignOpen = L"{\\an";
const std::wstring kAlignClose = L"}";
const std::wstring kFontTagEnd = L"\">";
const std::wstring kFontClose = L"</font>";
const std::wstring kSizeOpen = L"size=\"";
const std::wstring kFaceOpen = L"face=\"";
const std::wstring kColorOpen = L"color=\"";
const std::wstring kQuote = L"\"";
const std::wstring kStyleTags[] = {L"<b>", L"</b>", L"<i>", L"</i>"};

// A decimal integer after leading blanks; false when no digit follows.
bool ReadLeadingInteger(const std::string& text, long long& value)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const char* begin = text.c_str() + i;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(begin, &end, 10);
    return end != begin && errno == 0;
}

void EraseAll(std::wstring& text, const std::wstring& tag)
{
    for (size_t at = text.find(tag); at != std::wstring::npos; at = text.find(tag, at))
        text.erase(at, tag.size());
}

}  // namespace

std::wstring NarrowMediaTextToWide(const std::string& text)
{
    QTextCodec* utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    const QString decoded = utf8->toUnicode(text.data(), static_cast<int>(text.size()), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return QStringToWString(decoded);
    return platform::CharsetToWide(text, platform::LegacyCodePageName());
}

namespace filters {

// --- SubRip ----------------------------------------------------------------

int64_t SrtStartKey(const std::string& timeText)
{
    if (timeText.size() < 12)
        return 0;
    auto number = [&](size_t at, size_t count) { return std::stoll(timeText.substr(at, count)); };
    return number(0, 2) * 3600000 + number(3, 2) * 60000 + number(6, 2) * 1000 + number(9, 3);
}

void ParseSrtPosition(const std::string& rest, SubtitleEntry& entry)
{
    entry.x = entry.y = entry.width = entry.height = 0;
    std::vector<std::string> pieces(boost::sregex_token_iterator(rest.begin(), rest.end(), kPositionLabel, -1),
                                    boost::sregex_token_iterator());
    if (pieces.size() < 5)
        return;
    long long v[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (!ReadLeadingInteger(pieces[static_cast<size_t>(i) + 1], v[i])) {
            QOR_LOG_ERROR(Log(), "Can't parse title position: line(%s)", rest.c_str());
            return;
        }
    }
    // Pieces in the order X1, X2, Y1, Y2.
    entry.x = static_cast<double>(v[0]);
    entry.y = static_cast<double>(v[2]);
    // Differences taken in double: the values span the whole long long range.
    entry.width = static_cast<double>(v[1]) - static_cast<double>(v[0]);
    entry.height = static_cast<double>(v[3]) - static_cast<double>(v[2]);
}

bool ParseSrtFile(const std::string& path, BaseSubtitlesSource::EntryMap& entries)
{
    std::ifstream in(path);
    if (!in) {
        const int error = errno;
        QOR_LOG_ERROR(Log(), "Can't open file(%s), message(%s)", path.c_str(), GetSystemErrorMessage(error).c_str());
        return false;
    }
    try {
        bool collecting = false;
        int64_t key = 0;
        SubtitleEntry entry;
        auto store = [&] {
            if (!entry.text.empty() && entry.text.back() == L'\n')
                entry.text.pop_back();
            entries.emplace(key, entry);
            entry = SubtitleEntry{};
            collecting = false;
        };
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!collecting) {
                boost::smatch match;
                if (!boost::regex_search(line, match, kTimeLine))
                    continue;
                const std::string time = match[1].str();
                key = SrtStartKey(time);
                entry = SubtitleEntry{};
                // The position is read from the index of the time text's
                // length: the time text stands at the start of its line.
                ParseSrtPosition(time.size() <= line.size() ? line.substr(time.size()) : std::string(), entry);
                collecting = true;
            } else if (!line.empty()) {
                entry.text += NarrowMediaTextToWide(line);
                entry.text += L'\n';
            } else {
                store();
            }
        }
        if (collecting)
            store();
        if (in.bad())
            throw std::runtime_error(std::strerror(errno));
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(Log(), "Can't parse file(%s), message(%s)", path.c_str(), e.what());
        return false;
    }
    return true;
}

bool ExternalSubtitlesSource::Open(const std::string& file, const std::string& streamId)
{
    if (!m_filePath.empty() && file == m_filePath && streamId == m_streamId)
        return true;
    if (!ParseSrtFile(file, m_entries))
        return false;
    m_filePath = file;
    m_streamId = streamId;
    return true;
}

// --- in-file streams ---------------------------------------------------------

bool FFmpegSubtitlesSource::OpenStream(const std::string& title)
{
    m_entries.clear();
    for (unsigned i = 0; i < m_formatContext->nb_streams; ++i) {
        AVStream* stream = m_formatContext->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE || ReadStreamTitle(stream) != title)
            continue;
        const AVCodecID id =
            stream->codecpar->codec_id == AV_CODEC_ID_NONE ? AV_CODEC_ID_SUBRIP : stream->codecpar->codec_id;
        if (const AVCodec* decoder = avcodec_find_decoder(id))
            return OpenCodec(static_cast<int>(i), decoder);
    }
    return false;
}

void FFmpegSubtitlesSource::LoadAllPackets()
{
    AVStream* stream = m_formatContext->streams[m_streamIndex];
    avformat_seek_file(m_formatContext, m_streamIndex, 0, 0, 0, 0);
    if (stream->duration < 0 && m_formatContext->duration != AV_NOPTS_VALUE) {
        m_endPts = m_fullEndPts = static_cast<int64_t>(
            std::floor(static_cast<double>(m_formatContext->duration) * stream->time_base.den /
                           stream->time_base.num / 1000000.0 +
                       0.5));
    }
    while (ReadSubtitlePacket()) {
    }
}

bool FFmpegSubtitlesSource::ReadSubtitlePacket()
{
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr)
        return false;
    if (av_read_frame(m_formatContext, packet) < 0) {
        av_packet_free(&packet);
        return false;
    }
    if (packet->stream_index == m_streamIndex) {
        const int64_t key = PtsToMilliseconds(packet->pts);
        const char* bytes = reinterpret_cast<const char*>(packet->data);
        const size_t size = packet->data != nullptr ? static_cast<size_t>(packet->size) : 0;
        const std::string text(bytes, size > 0 ? strnlen(bytes, size) : 0);
        if (!text.empty() || packet->size == 0) {
            SubtitleEntry entry;
            entry.text = NarrowMediaTextToWide(text);
            if (packet->side_data_elems > 0 && packet->side_data[0].data != nullptr &&
                packet->side_data[0].type == AV_PKT_DATA_SUBTITLE_POSITION) {
                size_t sideSize = 0;
                const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SUBTITLE_POSITION, &sideSize);
                if (side != nullptr && sideSize >= 16) {
                    uint32_t v[4];
                    std::memcpy(v, side, sizeof(v));
                    entry.x = v[0];
                    entry.y = v[1];
                    entry.width = static_cast<double>(v[2]) - v[0];
                    entry.height = static_cast<double>(v[3]) - v[1];
                } else {
                    entry.x = entry.y = -1;
                }
            }
            m_entries.emplace(key, std::move(entry));
        }
    }
    av_packet_free(&packet);
    return true;
}

}  // namespace filters

// --- lookup and markup ---------------------------------------------------------

std::vector<SubtitleEntry> FindSubtitleEntriesAt(const filters::BaseSubtitlesSource& source, int64_t timeMs)
{
    const auto& entries = source.GetEntries();
    auto after = entries.upper_bound(timeMs);
    if (after == entries.begin())
        return {};
    const int64_t key = std::prev(after)->first;
    std::vector<SubtitleEntry> result;
    for (auto it = entries.lower_bound(key); it != after; ++it)
        result.push_back(it->second);
    return result;
}

int ReadMarkupNumber(const std::wstring& text, size_t& pos, const std::wstring& open, const std::wstring& close)
{
    if (pos + open.size() + close.size() >= text.size() || text.compare(pos, open.size(), open) != 0)
        return 0;
    const size_t start = pos + open.size();
    const size_t closing = text.find(close, start + 1);
    if (closing == std::wstring::npos)
        return 0;
    pos = closing + close.size();
    size_t end = start + 1;
    while (end < text.size() && text[end] >= L'0' && text[end] <= L'9')
        ++end;
    const std::wstring digits = text.substr(start, end - start);
    wchar_t* stop = nullptr;
    errno = 0;
    const long value = std::wcstol(digits.c_str(), &stop, 10);
    if (stop == digits.c_str() || *stop != L'\0' || errno == ERANGE || value > INT_MAX || value < INT_MIN)
        return 0;
    return static_cast<int>(value);
}

bool ReadMarkupString(const std::wstring& text, const std::wstring& open, std::string& value)
{
    const size_t at = text.find(open);
    if (at == std::wstring::npos)
        return false;
    const size_t start = at + open.size();
    const size_t quote = text.find(kQuote, start);
    if (quote == std::wstring::npos)
        return false;
    value = ToCodePage(text.substr(start, quote - start), CP_ACP_CODEPAGE);
    return true;
}

std::wstring ApplySubtitleMarkup(render::Titles& titles, int line, const std::wstring& text)
{
    bool changed = false;
    size_t pos = 0;
    const int alignment = ReadMarkupNumber(text, pos, kAlignOpen, kAlignClose);
    if (alignment >= 1 && alignment <= 9)
        changed |= titles.GetTitle(line)->SetAlignment(kSubtitleAlignments[alignment - 1]);

    if (!text.empty()) {
        const size_t tagEnd = text.find(kFontTagEnd, pos);
        if (tagEnd != std::wstring::npos)
            pos = tagEnd + kFontTagEnd.size();
    }
    size_t end = text.size();
    if (end > pos && end - pos > kFontClose.size() && text.compare(end - kFontClose.size(), kFontClose.size(), kFontClose) == 0)
        end -= kFontClose.size();

    const size_t sizeAt = text.find(kSizeOpen);
    if (sizeAt != std::wstring::npos) {
        size_t at = sizeAt;
        const int size = ReadMarkupNumber(text, at, kSizeOpen, kQuote);
        if (size > 0)
            changed |= titles.GetTitle(line)->SetFontSize(size);
    }
    std::string face;
    if (ReadMarkupString(text, kFaceOpen, face))
        changed |= titles.GetTitle(line)->SetFontFamily(face);
    std::string colorName;
    if (ReadMarkupString(text, kColorOpen, colorName)) {
        QColor color;
        color.setNamedColor(QString::fromStdString(colorName));
        // A name Qt does not know leaves the line's colour as it is.
        if (color.isValid())
            changed |= titles.GetTitle(line)->SetColor(color);
    }
    const bool bold = text.find(L"<b>") != std::wstring::npos && text.find(L"</b>") != std::wstring::npos;
    changed |= titles.GetTitle(line)->SetBold(bold);
    const bool italic = text.find(L"<i>") != std::wstring::npos && text.find(L"</i>") != std::wstring::npos;
    changed |= titles.GetTitle(line)->SetItalic(italic);
    titles.MarkChanged(changed);

    std::wstring plain = end > pos ? text.substr(pos, end - pos) : std::wstring();
    for (const std::wstring& tag : kStyleTags)
        EraseAll(plain, tag);
    return plain;
}
