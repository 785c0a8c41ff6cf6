#pragma once
// The title lines of a channel, as the sources fill them: texts recorded with
// the frames and track rectangles. The renderer draws them over the picture.
//
// Threads: sources write lines from their consumer thread while the render
// thread reads them; every line and the set have their own lock.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

namespace TITLES {
struct TitleSettings;
}

namespace render {

// A rectangle in fractions of the picture and its colour.
struct TitleItem {
    double x = 0, y = 0, w = 0, h = 0;
    uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    bool operator==(const TitleItem&) const = default;
};

class Title {
public:
    explicit Title(bool enabled = true) : m_enabled(enabled) {}

    bool IsEnabled() const;
    void SetEnabled(bool enabled);
    // Each returns whether the line changed.
    bool SetText(const std::wstring& text);
    bool SetItems(const std::vector<TitleItem>& items);
    void ApplySettings(const TITLES::TitleSettings& settings);

    std::wstring GetText() const;
    std::vector<TitleItem> GetItems() const;
    std::string GetName() const;
    void SetName(const std::string& name);
    std::string GetFontFamily() const;
    uint32_t GetFontSize() const;

    // Style of the line; each setter returns whether the line changed.
    bool SetAlignment(int32_t flags);  // Qt alignment flags
    bool SetFontFamily(const std::string& family);
    bool SetFontSize(int size);
    bool SetBold(bool bold);
    bool SetItalic(bool italic);
    bool SetColor(uint32_t argb);  // QRgb
    // The placement rectangle (fractions of the frame); raises the rectangle's
    // changed flag when it differs.
    bool SetRect(double x, double y, double w, double h);
    int32_t GetAlignment() const;
    bool IsBold() const;
    bool IsItalic() const;
    uint32_t GetColor() const;
    void GetRect(double rect[4]) const;
    bool IsRectChanged() const;
    void SetRectChanged(bool changed);

    // Lines drawn together with this one (the further lines of a subtitle);
    // kept only once KeepLinkedLines was called.
    void KeepLinkedLines();
    bool KeepsLinkedLines() const;
    void AppendLinkedLine(int index);
    std::vector<int> GetLinkedLines() const;

private:
    mutable std::mutex m_lock;
    bool m_enabled;
    std::wstring m_text;
    std::vector<TitleItem> m_items;
    std::string m_name;
    std::string m_fontFamily;
    uint32_t m_fontSize = 0;
    uint32_t m_color = 0xFFFFFFFFu;
    double m_rect[4] = {0, 0, 0, 0};
    bool m_rectChanged = false;
    int32_t m_alignment = 0;
    bool m_bold = false;
    bool m_italic = false;
    bool m_keepsLinkedLines = false;
    std::vector<int> m_linkedLines;
};

class Titles {
public:
    // Line `index`, created when missing; a new line above 2 is named
    // "Titles " followed by index - 2 and listed unless doNotList is set.
    boost::shared_ptr<Title> GetTitle(int index, bool defaultEnabled = true, bool doNotList = false);
    // Sets the text of a line (created when missing); raises the changed flag
    // when the text differs.
    void SetTitleText(int index, const std::wstring& text);
    // Null when the line does not exist.
    boost::shared_ptr<Title> FindTitle(int index) const;
    std::vector<std::string> GetNames() const;

    bool IsChanged() const;
    void SetChanged(bool changed);

private:
    mutable std::mutex m_lock;
    std::map<int, boost::shared_ptr<Title>> m_titles;
    std::vector<std::string> m_names;
    bool m_changed = false;
};

}  // namespace render
