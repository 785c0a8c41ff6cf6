#pragma once
// The title overlays of a channel: 0 the channel name, 1 the frame time, 2
// the frame information, 3 and above the titles recorded with the video.
//
// Threads: writers (source threads) and readers (the GUI thread's layout and
// painting) meet under each title's lock; the set's lock guards the list and
// the creation of titles. The set's changed flag is atomic: writers raise it,
// the render pass reads and clears it.

#include <atomic>
#include <string>
#include <vector>

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>
#include <boost/shared_ptr.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/thread/mutex.hpp>

class QPainter;

namespace TITLES {
struct TitleSettings;
}

namespace render {

// A rectangle relative to the picture (0..1) and its colour.
struct TitleItem {
    QRectF rect;
    QColor colour;
    // Rectangles compare fuzzily.
    friend bool operator==(const TitleItem& a, const TitleItem& b) { return a.rect == b.rect && a.colour == b.colour; }
};

// The laid-out copy of a title that the painting code keeps.
struct TitleLayout {
    QString text;
    std::vector<TitleItem> items;  // in picture coordinates
    QRectF bounds;
};

class Title {
public:
    // `announced`: the creation of the title was reported through
    // Titles::TitleAdded.
    explicit Title(bool announced);

    // Each setter returns the title's changed flag (which may still be set by
    // an earlier change not yet laid out).
    bool SetText(const std::wstring& text);
    bool SetItems(const std::vector<TitleItem>& items);
    bool SetColor(const QColor& colour);
    void SetFont(const std::string& family, int size);
    bool SetFontFamily(const std::string& family);
    bool SetFontSize(int size);
    bool SetBold(bool bold);
    bool SetItalic(bool italic);
    void SetName(const std::string& name);
    void SetVisible(bool visible);
    // Qt alignment flags of the text in its box.
    bool SetAlignment(int flags);
    // The text box relative to the picture rectangle.
    bool SetPlacement(const QRectF& placement);
    // Font, colour, placement and name of a title recorded with the video.
    void ApplySettings(const TITLES::TitleSettings& settings);
    // Appends a title whose visibility goes with this one's.
    void AddLinkedTitle(int index);

    std::string GetName();
    std::wstring GetText();
    std::vector<TitleItem> GetItems();
    std::vector<int> GetLinkedTitles();
    QColor GetColor();
    QColor GetShadowColor();
    QRectF GetPlacement();
    int GetAlignment();
    bool IsVisible();
    bool IsAnnounced();
    bool IsChanged();
    QFont GetFont();

    // Copies text and items into out for the picture rectangle and clears
    // the changed flag.
    void Layout(TitleLayout& out, const QRectF& picture);
    // Paints a laid-out title into box (within clip): text with its shadow,
    // else the rectangles.
    void Paint(QPainter& painter, const TitleLayout& layout, const QRectF& clip, const QRectF& box, bool elide);

private:
    QFont FontLocked();

    boost::mutex m_lock;
    bool m_changed = true;
    std::wstring m_text;
    std::vector<TitleItem> m_items;
    QColor m_colour{255, 255, 255, 255};
    QColor m_shadow{63, 63, 63, 255};
    QRectF m_placement{0.05, 0.05, 0.9, 0.9};
    int m_alignment = Qt::AlignLeft | Qt::AlignTop;
    std::string m_family = "Courier New";
    int m_fontSize = 9;
    QFont m_font;
    bool m_fontDirty = true;
    bool m_bold = false;
    bool m_italic = false;
    bool m_visible = true;
    std::string m_name;
    bool m_announced;
    std::vector<int> m_linkedTitles;
};

using TitlePtr = boost::shared_ptr<Title>;

class Titles {
public:
    explicit Titles(int channel = 0) : m_channel(channel) {}

    // Raised with true after the camera and title settings were applied.
    boost::signals2::signal<void(bool)> VisibilityChanged;
    // A new title (name, visible) that was not created quietly.
    boost::signals2::signal<void(std::string, bool)> TitleAdded;

    // The title at index, created when missing. A new title above 2 is named
    // "Titles N" (N = index - 2) and takes its visibility from the
    // application's title switch of (channel, index - 3), created with
    // visibleDefault; unless quiet, its creation is announced.
    TitlePtr GetTitle(unsigned index, bool visibleDefault = true, bool quiet = false);
    // The title at index when it exists; never creates one.
    TitlePtr FindTitle(unsigned index);
    // SetText on the title at index (created when missing); the set's changed
    // flag takes the title's result.
    bool SetTitleText(int index, const std::wstring& text);
    // The first index from 3 on whose title has that name; -1 when none.
    int IndexOfName(const QString& name);
    // Every title slot (entries may be empty).
    std::vector<TitlePtr> GetTitles();
    int GetChannel() const { return m_channel; }

    // Writers that change a title directly OR their result in here.
    void MarkChanged(bool changed)
    {
        if (changed)
            m_changed = true;
    }
    bool IsChanged() const { return m_changed; }
    // Reads and clears the flag (the render pass).
    bool TakeChanged() { return m_changed.exchange(false); }

private:
    boost::mutex m_lock;
    std::vector<TitlePtr> m_titles;
    std::atomic<bool> m_changed{false};
    const int m_channel;
};

using TitlesPtr = boost::shared_ptr<Titles>;

}  // namespace render
