#include "playback/PlaybackGui.h"

#include <algorithm>

#include <QImage>


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

void IExportPanel::GetTasks(std::vector<Storage::ExportTask>& tasks)
{
    tasks.clear();
    for (int row = 0; row < ItemCount(); ++row) {
        Storage::ExportTask task;
        GetTask(row, task);
        if (!task.ChannelIds.empty())
            tasks.push_back(task);
    }
}

void HeadlessTimeLine::SetIntervals(const std::shared_ptr<utils::TimeConverter>& intervals)
{
    m_intervals = intervals;
    m_gui.Record(m_name + " SetIntervals " + std::to_string(intervals ? intervals->GetArchivePeriods().size() : 0));
}

void HeadlessTimeLine::ClearIntervals()
{
    m_intervals.reset();
    m_gui.Record(m_name + " ClearIntervals");
}

void HeadlessTimeLine::SetPosition(int64_t time)
{
    // Not recorded: the playback tick moves the cursors every 16 ms.
    m_position = time;
}

void HeadlessTimeLine::SetCutSelectionMode(ECutSelectionMode mode)
{
    m_mode = mode;
    m_gui.Record(m_name + " SetCutSelectionMode " + std::to_string(mode));
}

void HeadlessTimeLine::SetSelectionBegin(int64_t time)
{
    m_gui.Record(m_name + " SetSelectionBegin " + std::to_string(time));
}

void HeadlessTimeLine::SetSelectionEnd(int64_t time)
{
    m_gui.Record(m_name + " SetSelectionEnd " + std::to_string(time));
}

void HeadlessTimeLine::ClearSelection()
{
    m_gui.Record(m_name + " ClearSelection");
}

void HeadlessTimeInput::Activate()
{
    if (m_active)
        return;
    m_active = true;
    m_gui.Record(m_name + " Activate");
    Activated();
}

HeadlessGui::HeadlessGui()
{
    // The controls layer's answer to an input's activation.
    beginInput.Activated.connect([this] {
        endInput.Deactivate();
        ActiveTimeLineChanged(&beginInput.Selector());
    });
    endInput.Activated.connect([this] {
        beginInput.Deactivate();
        ActiveTimeLineChanged(&endInput.Selector());
    });
}

PlaybackGui HeadlessGui::Bundle(const std::shared_ptr<HeadlessGui>& gui)
{
    PlaybackGui bundle;
    bundle.controls = gui;
    bundle.playTimeLine = std::shared_ptr<ITimeLineControl>(gui, &gui->channelTimeLine);
    bundle.exportTimeLine = std::shared_ptr<ITimeLineControl>(gui, &gui->mainTimeLine);
    bundle.playPanel = gui;
    bundle.cameras = gui;
    bundle.grid = gui;
    bundle.enabled = gui;
    bundle.exportPanel = gui;
    bundle.calendar = std::shared_ptr<ITimeLineControl>(gui, &gui->calendar);
    bundle.beginInput = std::shared_ptr<ITimeInputPanel>(gui, &gui->beginInput);
    bundle.endInput = std::shared_ptr<ITimeInputPanel>(gui, &gui->endInput);
    bundle.exportControl = gui;
    bundle.taskSettings = gui;
    return bundle;
}

void HeadlessGui::PrintImage(const QString&, const QImage& image)
{
    Record("PrintImage " + std::to_string(image.width()) + "x" + std::to_string(image.height()));
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

void HeadlessGui::SetLayout(std::vector<int32_t> cells)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_layout = std::move(cells);
}

void HeadlessGui::SetEnabledState(const EnabledGui& state)
{
    std::string text = "SetEnabledState";
    for (bool flag : {state.playback, state.configuration, state.exportCurrentTask, state.exportAllTasks,
                      state.capture, state.exportVideo})
        text += flag ? " 1" : " 0";
    Record(text);
    std::lock_guard<std::mutex> guard(m_lock);
    m_enabled = state;
}

EnabledGui HeadlessGui::LastEnabledState()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_enabled;
}

void HeadlessGui::SetTask(const Storage::ExportTask& task)
{
    Record("SetTask " + std::to_string(task.row));
    std::lock_guard<std::mutex> guard(m_lock);
    m_editedTask = task;
}

Storage::ExportTask HeadlessGui::EditedTask()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_editedTask;
}

Storage::ExportTask HeadlessGui::CurrentTask()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tasks.empty())
        return {};
    return m_tasks[std::min<size_t>(m_currentTask, m_tasks.size() - 1)];
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

void HeadlessGui::Record(const std::string& call)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back(call);
}

void HeadlessGui::AddChannel(const std::wstring& id, const std::wstring& name)
{
    Record("AddChannel " + Narrow(id) + " " + Narrow(name));
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tasks.empty())
        m_tasks.emplace_back();
    Storage::ExportTask& task = m_tasks[std::min<size_t>(m_currentTask, m_tasks.size() - 1)];
    const std::string narrow = Narrow(id);
    if (std::find(task.ChannelIds.begin(), task.ChannelIds.end(), narrow) == task.ChannelIds.end())
        task.ChannelIds.push_back(narrow);
    if (!m_tasks.back().ChannelIds.empty())
        m_tasks.emplace_back();
}

void HeadlessGui::SetTaskInterval(const boost::posix_time::ptime& from, const boost::posix_time::ptime& to)
{
    const auto text = [](const boost::posix_time::ptime& t) {
        return t.is_special() ? std::string("-") : std::to_string(utils::MillisecondsFromPtime(t));
    };
    Record("SetTaskInterval " + text(from) + " " + text(to));
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tasks.empty())
        return;
    Storage::ExportTask& task = m_tasks[std::min<size_t>(m_currentTask, m_tasks.size() - 1)];
    task.FromTime = from;
    task.ToTime = to;
}

void HeadlessGui::SetCurrentTask(const Storage::ExportTask& task)
{
    Record("SetCurrentTask " + task.OutputContainer + " " + task.PrefixFileName);
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_tasks.empty())
        return;
    Storage::ExportTask& current = m_tasks[std::min<size_t>(m_currentTask, m_tasks.size() - 1)];
    const std::vector<std::string> channels = current.ChannelIds;
    current = task;
    current.ChannelIds = channels;
}

void HeadlessGui::GetTask(int row, Storage::ExportTask& task)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (row < 0 || static_cast<size_t>(row) >= m_tasks.size() || m_tasks[row].ChannelIds.empty())
        return;
    task = m_tasks[row];
    task.row = row;
}

int HeadlessGui::CountTasks()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(std::count_if(m_tasks.begin(), m_tasks.end(),
                                          [](const Storage::ExportTask& task) { return !task.ChannelIds.empty(); }));
}

void HeadlessGui::ResetTasks()
{
    Record("ResetTasks");
    std::lock_guard<std::mutex> guard(m_lock);
    m_tasks.assign(1, Storage::ExportTask{});
    m_currentTask = 0;
}

int HeadlessGui::CurrentIndex()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tasks.empty() ? -1 : std::min(m_currentTask, static_cast<int>(m_tasks.size()) - 1);
}

int HeadlessGui::ItemCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_tasks.size());
}

void HeadlessGui::SelectItem(int row, bool)
{
    Record("SelectItem " + std::to_string(row));
    std::lock_guard<std::mutex> guard(m_lock);
    // Clamped to the rows there are, as the row selector does.
    m_currentTask = std::max(std::min(row, static_cast<int>(m_tasks.size()) - 1), 0);
}

void HeadlessGui::PostProgressItem(int row, int percent)
{
    Record("SetProgressItem " + std::to_string(row) + " " + std::to_string(percent));
}

void HeadlessGui::PostSelectTask(int row)
{
    Record("SelectTask " + std::to_string(row));
}

}  // namespace playback
