#include "playback/PlaybackGui.h"


namespace playback {

namespace {

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

PlaybackGui HeadlessGui::Bundle(const std::shared_ptr<HeadlessGui>& gui)
{
    return PlaybackGui{gui, gui, gui, gui, gui, gui, gui, gui};
}

void HeadlessGui::SetIntervals(const utils::IntervalList& periods)
{
    Record("SetIntervals " + std::to_string(periods.size()));
}

void HeadlessGui::SetCursorTime(int64_t time)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_cursor = time;
}

void HeadlessGui::SetCameras(const std::vector<std::wstring>& names)
{
    std::string text = "SetCameras";
    for (const std::wstring& name : names)
        text += " " + Narrow(name);
    Record(text);
}

void HeadlessGui::SelectCamera(const std::wstring& name)
{
    Record("SelectCamera " + Narrow(name));
}

void HeadlessGui::CreateItems(const std::vector<int32_t>& order,
                              const std::vector<boost::shared_ptr<render::Titles>>& titles)
{
    const auto count = static_cast<int32_t>(titles.size());
    Record("CreateItems " + std::to_string(count));
    std::lock_guard<std::mutex> guard(m_lock);
    m_items = count;
    // Without cells of its own the headless grid keeps any order of the
    // right length.
    m_layout = order;
    if (m_layout.size() != titles.size()) {
        m_layout.clear();
        for (int32_t i = 0; i < count; ++i)
            m_layout.push_back(i);
    }
}

std::vector<int32_t> HeadlessGui::GetLayout()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_layout;
}

void HeadlessGui::RemoveItems()
{
    Record("RemoveItems");
    std::lock_guard<std::mutex> guard(m_lock);
    m_items = 0;
    m_layout.clear();
}

bool HeadlessGui::FadeItem(int32_t channel, int32_t from, int32_t to)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (channel < 0 || channel >= m_items)
            return false;
    }
    Record("FadeItem " + std::to_string(channel) + " " + std::to_string(from) + " " + std::to_string(to));
    return true;
}

void HeadlessGui::SetEnabledState(bool enabled, bool exporting)
{
    Record(std::string("SetEnabledState ") + (enabled ? "1" : "0") + " " + (exporting ? "1" : "0"));
}

std::vector<std::string> HeadlessGui::Calls()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

std::vector<std::string> HeadlessGui::Calls(const std::string& prefix)
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> out;
    for (const std::string& call : m_calls)
        if (call.compare(0, prefix.size(), prefix) == 0)
            out.push_back(call);
    return out;
}

void HeadlessGui::ClearCalls()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
}

int64_t HeadlessGui::CursorTime()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_cursor;
}

void HeadlessGui::Record(const std::string& call)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back(call);
}

}  // namespace playback
