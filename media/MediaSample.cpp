#include "media/MediaSample.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "archive/files/ArchiveSettings.h"
#include "imaging/primitives/ImageCopy.h"
#include "media/MediaSampleTitles.h"

namespace render {

uint8_t* ImageMediaSample::Lock(int32_t width, int32_t height, int32_t& pitch, bool planar)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    m_width = width;
    m_height = height;
    m_lockedPlanar = planar;
    if (planar) {
        // Even pitch so that both chroma planes have whole rows.
        m_pitch = (width + 1) & ~1;
        m_bytes.assign(static_cast<size_t>(m_pitch) * height * 3 / 2 + m_pitch, 0);
    } else {
        m_pitch = width * 4;
        m_bytes.assign(static_cast<size_t>(m_pitch) * height, 0);
    }
    pitch = m_pitch;
    m_locked = true;
    ++m_lockCount;
    return m_bytes.data();
}

void ImageMediaSample::Unlock()
{
    m_locked = false;
}

bool ImageMediaSample::TakeFrame(VideoFrame* frame)
{
    ReleaseVideoFrame(frame);
    return false;
}

void CopyImagePlanes(const uint8_t* const planes[3], const int32_t steps[3], int32_t srcWidth,
                     int32_t srcHeight, uint8_t* dst, int32_t dstPitch, int32_t dstWidth, int32_t dstHeight)
{
    const int32_t n = std::max(1, dstWidth > 0 ? srcWidth / dstWidth : 1);
    const int32_t cw = dstWidth / 2;
    const int32_t ch = dstHeight / 2;
    const int32_t cpitch = dstPitch / 2;
    uint8_t* dstPlanes[3] = {dst, dst + static_cast<size_t>(dstPitch) * dstHeight,
                             dst + static_cast<size_t>(dstPitch) * dstHeight * 5 / 4};
    const int32_t w[3] = {std::min(dstWidth, srcWidth), std::min(cw, srcWidth / 2), std::min(cw, srcWidth / 2)};
    const int32_t h[3] = {std::min(dstHeight, srcHeight), std::min(ch, srcHeight / 2), std::min(ch, srcHeight / 2)};
    const int32_t dp[3] = {dstPitch, cpitch, cpitch};
    for (int p = 0; p < 3; ++p) {
        if (w[p] <= 0 || h[p] <= 0)
            continue;
        if (planes[p] == nullptr) {
            for (int32_t y = 0; y < h[p]; ++y)
                std::memset(dstPlanes[p] + static_cast<size_t>(y) * dp[p], 0x80, w[p]);
            continue;
        }
        if (n == 1) {
            if (CopyImage8uC1(planes[p], steps[p], dstPlanes[p], dp[p], ImageSize{w[p], h[p]}) < 0)
                throw std::runtime_error("CopyImage8uC1 error");
            continue;
        }
        // Reduced: every n-th pixel of every n-th row, no filtering.
        for (int32_t y = 0; y < h[p]; ++y) {
            const uint8_t* s = planes[p] + static_cast<size_t>(y) * n * steps[p];
            uint8_t* d = dstPlanes[p] + static_cast<size_t>(y) * dp[p];
            for (int32_t x = 0; x < w[p]; ++x)
                d[x] = s[static_cast<size_t>(x) * n];
        }
    }
}

// --- titles -----------------------------------------------------------------

bool Title::IsEnabled() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_enabled;
}

void Title::SetEnabled(bool enabled)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_enabled = enabled;
}

bool Title::SetText(const std::wstring& text)
{
    std::wstring converted;
    converted.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            converted.push_back(L'\n');
            ++i;
        } else {
            converted.push_back(text[i]);
        }
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (converted == m_text)
        return false;
    m_text = std::move(converted);
    return true;
}

bool Title::SetItems(const std::vector<TitleItem>& items)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (items == m_items)
        return false;
    m_items = items;
    return true;
}

void Title::ApplySettings(const TITLES::TitleSettings& settings)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_fontFamily = settings.font_name;
    m_fontSize = settings.font_size;
    m_color = settings.font_color;
    m_rect[0] = settings.x;
    m_rect[1] = settings.y;
    m_rect[2] = settings.w;
    m_rect[3] = settings.h;
}

std::wstring Title::GetText() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
}

std::vector<TitleItem> Title::GetItems() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_items;
}

std::string Title::GetName() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_name;
}

void Title::SetName(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_name = name;
}

std::string Title::GetFontFamily() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_fontFamily;
}

uint32_t Title::GetFontSize() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_fontSize;
}

namespace {

template <class T>
bool Assign(std::mutex& lock, T& field, const T& value)
{
    std::lock_guard<std::mutex> guard(lock);
    if (field == value)
        return false;
    field = value;
    return true;
}

}  // namespace

bool Title::SetAlignment(int32_t flags)
{
    return Assign(m_lock, m_alignment, flags);
}

bool Title::SetFontFamily(const std::string& family)
{
    return Assign(m_lock, m_fontFamily, family);
}

bool Title::SetFontSize(int size)
{
    return Assign(m_lock, m_fontSize, static_cast<uint32_t>(size));
}

bool Title::SetBold(bool bold)
{
    return Assign(m_lock, m_bold, bold);
}

bool Title::SetItalic(bool italic)
{
    return Assign(m_lock, m_italic, italic);
}

bool Title::SetColor(uint32_t argb)
{
    return Assign(m_lock, m_color, argb);
}

bool Title::SetRect(double x, double y, double w, double h)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_rect[0] == x && m_rect[1] == y && m_rect[2] == w && m_rect[3] == h)
        return false;
    m_rect[0] = x;
    m_rect[1] = y;
    m_rect[2] = w;
    m_rect[3] = h;
    m_rectChanged = true;
    return true;
}

int32_t Title::GetAlignment() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_alignment;
}

bool Title::IsBold() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bold;
}

bool Title::IsItalic() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_italic;
}

uint32_t Title::GetColor() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_color;
}

void Title::GetRect(double rect[4]) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    std::copy(m_rect, m_rect + 4, rect);
}

bool Title::IsRectChanged() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_rectChanged;
}

void Title::SetRectChanged(bool changed)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_rectChanged = changed;
}

void Title::KeepLinkedLines()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_keepsLinkedLines = true;
}

bool Title::KeepsLinkedLines() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_keepsLinkedLines;
}

void Title::AppendLinkedLine(int index)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_keepsLinkedLines)
        m_linkedLines.push_back(index);
}

std::vector<int> Title::GetLinkedLines() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_linkedLines;
}

boost::shared_ptr<Title> Titles::GetTitle(int index, bool defaultEnabled, bool doNotList)
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_titles.find(index);
    if (it != m_titles.end())
        return it->second;
    auto title = boost::shared_ptr<Title>(new Title(defaultEnabled));
    if (index > 2) {
        const std::string name = "Titles " + std::to_string(index - 2);
        title->SetName(name);
        if (!doNotList)
            m_names.push_back(name);
    }
    m_titles.emplace(index, title);
    return title;
}

void Titles::SetTitleText(int index, const std::wstring& text)
{
    const bool changed = GetTitle(index)->SetText(text);
    if (changed) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_changed = true;
    }
}

boost::shared_ptr<Title> Titles::FindTitle(int index) const
{
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = m_titles.find(index);
    return it == m_titles.end() ? boost::shared_ptr<Title>() : it->second;
}

std::vector<std::string> Titles::GetNames() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_names;
}

bool Titles::IsChanged() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_changed;
}

void Titles::SetChanged(bool changed)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_changed = changed;
}

}  // namespace render
