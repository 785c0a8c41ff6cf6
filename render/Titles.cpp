#include "render/Titles.h"

#include <cmath>

#include <QFontMetricsF>
#include <QPainter>
#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "config/QApplicationSettings.h"
#include "archive/files/ArchiveSettings.h"
#include "base/StringConv.h"

namespace render {

namespace {

using Guard = boost::lock_guard<boost::mutex>;

// A title keeps the last 60 lines of its text, and never more than 8000
// characters.
constexpr int kKeptLines = 60;
constexpr std::size_t kKeptCharacters = 8000;

std::wstring TextTail(const std::wstring& text)
{
    std::size_t start = 0;
    int lines = 0;
    for (std::size_t i = text.size(); i-- > 0;) {
        if (text[i] != L'\n' || i + 1 == text.size())
            continue;
        if (++lines == kKeptLines) {
            start = i + 1;
            break;
        }
    }
    if (text.size() > kKeptCharacters)
        start = std::max(start, text.size() - kKeptCharacters);
    return text.substr(start);
}

std::wstring WithLineFeeds(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            out.push_back(L'\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool SameItems(const std::vector<TitleItem>& a, const std::vector<TitleItem>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const QRectF& p = a[i].rect;
        const QRectF& q = b[i].rect;
        if (!qFuzzyCompare(p.x(), q.x()) || !qFuzzyCompare(p.y(), q.y()) || !qFuzzyCompare(p.width(), q.width()) ||
            !qFuzzyCompare(p.height(), q.height()) || a[i].colour != b[i].colour)
            return false;
    }
    return true;
}

}  // namespace

Title::Title(bool announced) : m_announced(announced)
{
    SetColor(QColor(255, 255, 255, 255));
}

bool Title::SetText(const std::wstring& text)
{
    std::wstring kept = WithLineFeeds(TextTail(text));
    Guard lock(m_lock);
    if (!m_items.empty() || kept != m_text) {
        m_text = std::move(kept);
        m_items.clear();
        m_changed = true;
    }
    return m_changed;
}

bool Title::SetItems(const std::vector<TitleItem>& items)
{
    Guard lock(m_lock);
    if (!SameItems(items, m_items)) {
        m_text.clear();
        m_items = items;
        m_changed = true;
    }
    return m_changed;
}

bool Title::SetColor(const QColor& colour)
{
    Guard lock(m_lock);
    m_colour = colour;
    m_shadow = QColor(colour.red() / 4, colour.green() / 4, colour.blue() / 4, 255);
    m_changed = true;
    return m_changed;
}

void Title::SetFont(const std::string& family, int size)
{
    Guard lock(m_lock);
    if (family != m_family || size != m_fontSize) {
        m_family = family;
        m_fontSize = size;
        m_fontDirty = true;
    }
}

bool Title::SetFontFamily(const std::string& family)
{
    Guard lock(m_lock);
    if (family != m_family) {
        m_family = family;
        m_fontDirty = true;
        m_changed = true;
    }
    return m_changed;
}

bool Title::SetFontSize(int size)
{
    Guard lock(m_lock);
    if (size != m_fontSize || !m_items.empty()) {
        m_fontSize = size;
        m_items.clear();
        m_changed = true;
        m_fontDirty = true;
    }
    return m_changed;
}

bool Title::SetBold(bool bold)
{
    Guard lock(m_lock);
    if (bold != m_bold || !m_items.empty()) {
        m_bold = bold;
        m_fontDirty = true;
    }
    return m_changed;
}

bool Title::SetItalic(bool italic)
{
    Guard lock(m_lock);
    if (italic != m_italic || !m_items.empty()) {
        m_italic = italic;
        m_fontDirty = true;
    }
    return m_changed;
}

void Title::SetName(const std::string& name)
{
    Guard lock(m_lock);
    m_name = name;
}

void Title::SetVisible(bool visible)
{
    Guard lock(m_lock);
    m_visible = visible;
}

bool Title::SetAlignment(int flags)
{
    Guard lock(m_lock);
    if (flags != m_alignment) {
        m_alignment = flags;
        m_changed = true;
    }
    return m_changed;
}

bool Title::SetPlacement(const QRectF& placement)
{
    Guard lock(m_lock);
    if (placement != m_placement) {
        m_placement = placement;
        m_changed = true;
    }
    return m_changed;
}

void Title::ApplySettings(const TITLES::TitleSettings& settings)
{
    SetFont(settings.font_name, static_cast<int>(std::floor(settings.font_size * 0.75 + 0.5)));
    SetColor(QColor(static_cast<int>(settings.font_color & 0xFF), static_cast<int>((settings.font_color >> 8) & 0xFF),
                    static_cast<int>((settings.font_color >> 16) & 0xFF), 255));
    if (settings.w > 0 && settings.h > 0) {
        Guard lock(m_lock);
        m_placement = QRectF(settings.x, settings.y, settings.w, settings.h);
        m_changed = true;
    }
    SetName(WStringToString(settings.title_name));
}

void Title::AddLinkedTitle(int index)
{
    Guard lock(m_lock);
    m_linkedTitles.push_back(index);
}

std::string Title::GetName()
{
    Guard lock(m_lock);
    return m_name;
}

std::wstring Title::GetText()
{
    Guard lock(m_lock);
    return m_text;
}

std::vector<TitleItem> Title::GetItems()
{
    Guard lock(m_lock);
    return m_items;
}

std::vector<int> Title::GetLinkedTitles()
{
    Guard lock(m_lock);
    return m_linkedTitles;
}

QColor Title::GetColor()
{
    Guard lock(m_lock);
    return m_colour;
}

QColor Title::GetShadowColor()
{
    Guard lock(m_lock);
    return m_shadow;
}

QRectF Title::GetPlacement()
{
    Guard lock(m_lock);
    return m_placement;
}

int Title::GetAlignment()
{
    Guard lock(m_lock);
    return m_alignment;
}

bool Title::IsVisible()
{
    Guard lock(m_lock);
    return m_visible;
}

bool Title::IsAnnounced()
{
    Guard lock(m_lock);
    return m_announced;
}

bool Title::IsChanged()
{
    Guard lock(m_lock);
    return m_changed;
}

QFont Title::GetFont()
{
    Guard lock(m_lock);
    return FontLocked();
}

QFont Title::FontLocked()
{
    if (m_fontDirty) {
        m_font = QFont(QString::fromStdString(m_family), m_fontSize, -1, false);
        m_font.setStyleStrategy(QFont::PreferAntialias);
        m_font.setBold(m_bold);
        m_font.setItalic(m_italic);
        m_fontDirty = false;
    }
    return m_font;
}

void Title::Layout(TitleLayout& out, const QRectF& picture)
{
    QRectF placement;
    {
        Guard lock(m_lock);
        out.text = QString::fromStdWString(m_text);
        out.items = m_items;
        placement = m_placement;
        m_changed = false;
    }
    if (out.items.empty()) {
        out.bounds = QRectF(picture.x() + picture.width() * placement.x(),
                            picture.y() + picture.height() * placement.y(), picture.width() * placement.width(),
                            picture.height() * placement.height());
        return;
    }
    out.bounds = QRectF();
    for (TitleItem& item : out.items) {
        const QRectF r = item.rect;
        item.rect = QRectF(picture.width() * r.x() + picture.x(), picture.height() * r.y() + picture.y(),
                           picture.width() * r.width(), picture.height() * r.height());
        out.bounds |= item.rect;
    }
}

void Title::Paint(QPainter& painter, const TitleLayout& layout, const QRectF& clip, const QRectF& box, bool elide)
{
    QFont font;
    QColor colour, shadow;
    int alignment = 0;
    {
        Guard lock(m_lock);
        font = FontLocked();
        colour = m_colour;
        shadow = m_shadow;
        alignment = m_alignment;
    }
    const QRegion savedClip = painter.clipRegion();
    const bool hadClip = painter.hasClipping();
    painter.setClipRect(box & clip, Qt::ReplaceClip);
    painter.setFont(font);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (!layout.text.isEmpty()) {
        QRectF r = box;
        const QFontMetricsF metrics(font);
        const QRectF m = metrics.boundingRect(r, alignment, layout.text);
        if (m.height() > r.height())
            r.setTop(r.top() - (m.height() - r.height()));  // grows upwards
        const QString text = elide ? metrics.elidedText(layout.text, Qt::ElideRight, box.width()) : layout.text;
        if (shadow != colour) {
            painter.setPen(shadow);
            painter.drawText(r.translated(1, 1), alignment, text);
        }
        painter.setPen(colour);
        painter.drawText(r, alignment, text);
    } else {
        painter.setBrush(Qt::NoBrush);
        for (const TitleItem& item : layout.items) {
            painter.setPen(QPen(QBrush(item.colour), 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
            const QRectF& r = item.rect;
            painter.drawRect(QRectF(r.x() + 2, r.y() + 2, r.width() - 4, r.height() - 4));
        }
    }
    if (hadClip)
        painter.setClipRegion(savedClip, Qt::ReplaceClip);
    else
        painter.setClipping(false);
}

TitlePtr Titles::GetTitle(unsigned index, bool visibleDefault, bool quiet)
{
    TitlePtr title;
    std::string name;
    bool visible = true;
    {
        Guard lock(m_lock);
        if (m_titles.size() <= index)
            m_titles.resize(static_cast<std::size_t>(index) + 1);
        if (m_titles[index])
            return m_titles[index];
        title = boost::make_shared<Title>(!quiet);
        if (index > 2) {
            name = "Titles " + std::to_string(index - 2);
            title->SetName(name);
            visible = QApplicationSettings::Instance().GetTitleEnabled(m_channel, static_cast<int>(index) - 3,
                                                                       visibleDefault);
            title->SetVisible(visible);
        }
        m_titles[index] = title;
    }
    // Announced outside the set's lock: handlers may ask the set again.
    if (!quiet && index > 2)
        TitleAdded(name, visible);
    return title;
}

TitlePtr Titles::FindTitle(unsigned index)
{
    Guard lock(m_lock);
    return index < m_titles.size() ? m_titles[index] : TitlePtr();
}

bool Titles::SetTitleText(int index, const std::wstring& text)
{
    if (index < 0)
        return false;
    const bool changed = GetTitle(static_cast<unsigned>(index), true, false)->SetText(text);
    MarkChanged(changed);
    return changed;
}

int Titles::IndexOfName(const QString& name)
{
    std::vector<TitlePtr> titles = GetTitles();
    for (std::size_t i = 3; i < titles.size(); ++i) {
        if (titles[i] && QString::fromStdString(titles[i]->GetName()) == name)
            return static_cast<int>(i);
    }
    return -1;
}

std::vector<TitlePtr> Titles::GetTitles()
{
    Guard lock(m_lock);
    return m_titles;
}

}  // namespace render
