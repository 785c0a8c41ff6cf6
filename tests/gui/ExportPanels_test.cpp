// The export panels: channels added to the current task, the tasks read
// back, the list emptied, progress shown per task, reports from another
// thread, and the export bar's states.

#include "gui/panels/ExportPanels.h"

#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QResizeEvent>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <gtest/gtest.h>

#include "config/QApplicationSettings.h"
#include "widgets/QCustomComboBox.h"
#include "widgets/QCustomInputs.h"
#include "gui/panels/QExportTaskSettingsPanel.h"

namespace {

namespace pt = boost::posix_time;

void Wait(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

const pt::ptime kFrom(boost::gregorian::date(2026, 3, 14), pt::hours(10));
const pt::ptime kTo = kFrom + pt::hours(1);

TEST(QExportPanel, ChannelsGoToTheCurrentTaskOnceAndANewTaskFollows)
{
    QExportPanel panel;
    panel.ResetTasks();
    panel.AddChannel(L"2", L"Gate");
    panel.AddChannel(L"2", L"Gate");
    panel.AddChannel(L"1", L"Door");
    const auto list = panel.RollBox().GetList();
    ASSERT_EQ(panel.ItemCount(), 2);
    EXPECT_EQ(list->Item(0).Text(), "Door, Gate");
    EXPECT_EQ(list->Item(1).Text(), "New export task");

    panel.SetTaskInterval(kFrom, kTo);
    Storage::ExportTask stored;
    stored.PrefixFileName = "North";
    stored.OutputContainer = "mkv";
    stored.FromTime = kFrom;
    stored.ToTime = kTo;
    stored.ChannelIds = {"1"};  // a record read back earlier
    panel.SetCurrentTask(stored);

    Storage::ExportTask task;
    panel.GetTask(0, task);
    // Entry order (by name), each channel once.
    EXPECT_EQ(task.ChannelIds, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(task.PrefixFileName, "North");
    EXPECT_EQ(task.OutputContainer, "mkv");
    EXPECT_EQ(task.FromTime, kFrom);
    EXPECT_EQ(task.ToTime, kTo);
    EXPECT_EQ(task.row, 0);
    EXPECT_EQ(list->Item(0).Text(), "Door, Gate");

    // The empty task leaves the record as it was.
    Storage::ExportTask untouched;
    untouched.PrefixFileName = "kept";
    panel.GetTask(1, untouched);
    EXPECT_EQ(untouched.PrefixFileName, "kept");
    EXPECT_TRUE(untouched.ChannelIds.empty());
}

TEST(QExportPanel, OnlyTasksWithChannelsAreReadAndEachKnowsItsRow)
{
    QExportPanel panel;
    panel.ResetTasks();
    for (int row = 0; row < 3; ++row) {
        panel.SelectItem(row, false);
        panel.AddChannel(std::to_wstring(row + 1), L"Camera " + std::to_wstring(row + 1));
    }
    // A record whose row was never set: the row it is in counts.
    panel.SelectItem(2, false);
    panel.SetCurrentTask(Storage::ExportTask());
    std::vector<Storage::ExportTask> tasks;
    panel.GetTasks(tasks);
    ASSERT_EQ(tasks.size(), 3u);
    EXPECT_EQ(panel.CountTasks(), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(tasks[row].row, row);
        EXPECT_EQ(tasks[row].ChannelIds, (std::vector<std::string>{std::to_string(row + 1)}));
    }
}

TEST(QExportPanel, ResetLeavesOneSelectedNewTaskEditableOnlyForMediaSources)
{
    SettingValue<bool>& native = QApplicationSettings::Instance().Live.SourceNativeVideo;
    const bool saved = native;
    for (const bool nativeSource : {true, false}) {
        SCOPED_TRACE(nativeSource);
        native = nativeSource;
        QExportPanel panel;
        panel.AddChannel(L"1", L"Door");
        panel.SelectItem(1, false);
        panel.AddChannel(L"2", L"Gate");
        int changes = 0;
        panel.CurrentTaskChanged.connect([&] { ++changes; });
        panel.ResetTasks();
        EXPECT_EQ(panel.ItemCount(), 1);
        EXPECT_EQ(panel.CurrentIndex(), 0);
        EXPECT_EQ(panel.CountTasks(), 0);
        EXPECT_EQ(panel.RollBox().editable, !nativeSource);
        EXPECT_GE(changes, 1);
    }
    native = saved;
}

TEST(QExportPanel, TheTaskListFillsTheWidthCentredInThePanel)
{
    QExportPanel panel;
    panel.setMinimumHeight(0);
    panel.setMaximumHeight(1000);
    panel.resize(300, 90);
    QResizeEvent resize(QSize(300, 90), QSize());
    QCoreApplication::sendEvent(&panel, &resize);
    EXPECT_EQ(panel.RollBox().geometry(), QRect(5, 15, 290, 60));
}

TEST(QExportPanel, ProgressMarksATaskDoneAtAHundred)
{
    QExportPanel panel;
    panel.AddChannel(L"1", L"Door");
    struct Case {
        int row;
        int percent;
        int progress;
        int done;
    };
    const Case cases[] = {{0, 99, 99, 0}, {0, 100, 100, 1}, {0, 0, 0, 0}, {7, 50, 0, 0}, {-1, 50, 0, 0}};
    const auto list = panel.RollBox().GetList();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row * 1000 + c.percent);
        panel.SetProgressItem(c.row, c.percent);
        EXPECT_EQ(list->Item(0).progress, c.progress);
        EXPECT_EQ(list->Item(0).done, c.done);
    }
}

TEST(QExportPanel, ReportsFromAWorkerArriveOnTheGuiThread)
{
    QExportPanel panel;
    panel.AddChannel(L"1", L"Door");
    panel.SelectItem(1, false);
    panel.AddChannel(L"2", L"Gate");
    panel.SelectItem(0, false);
    std::thread worker([&] {
        panel.PostProgressItem(0, 100);
        panel.PostSelectTask(1);
    });
    worker.join();
    const auto list = panel.RollBox().GetList();
    EXPECT_EQ(list->Item(0).done, 0);
    EXPECT_EQ(panel.CurrentIndex(), 0);
    Wait(50);
    EXPECT_EQ(list->Item(0).done, 1);
    // The selection moves with an animation.
    QElapsedTimer timer;
    timer.start();
    while (panel.RollBox().MoveAnimation().state() != QAbstractAnimation::Stopped && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(panel.CurrentIndex(), 1);
}

TEST(QExportControlPanel, StartCancelAndCompleteSetTheCancelButton)
{
    QExportControlPanel panel;
    EXPECT_FALSE(panel.Cancel().isEnabled());
    EXPECT_TRUE(panel.Message().isHidden());
    std::vector<std::string> clicked;
    panel.ExportAllTasksClicked.connect([&] { clicked.push_back("all"); });
    panel.ExportCurrentTaskClicked.connect([&] { clicked.push_back("current"); });
    panel.CancelExportClicked.connect([&] { clicked.push_back("cancel"); });

    panel.setMessage("No space");
    panel.findChild<QPushButton*>("AllTasks")->click();
    EXPECT_TRUE(panel.Cancel().isEnabled());
    EXPECT_TRUE(panel.Message().isHidden());
    EXPECT_FALSE(panel.Progress().isHidden());
    EXPECT_FALSE(panel.Cancel().isHidden());
    panel.Cancel().click();
    EXPECT_FALSE(panel.Cancel().isEnabled());
    panel.findChild<QPushButton*>("CurrentTask")->click();
    EXPECT_TRUE(panel.Cancel().isEnabled());
    panel.onComplete();
    EXPECT_FALSE(panel.Cancel().isEnabled());
    EXPECT_EQ(clicked, (std::vector<std::string>{"all", "cancel", "current"}));
    EXPECT_EQ(panel.findChild<QPushButton*>("AllTasks")->text(), "All tasks");
    EXPECT_EQ(panel.findChild<QLabel*>("Header")->text(), "Export");
}

TEST(QExportControlPanel, AMessageReplacesTheProgressUntilAnEmptyOne)
{
    QExportControlPanel panel;
    struct Case {
        QString text;
        bool messageShown;
    };
    const Case cases[] = {{"Cancelled by user", true}, {"", false}, {"Write frame error", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        panel.setMessage(c.text);
        EXPECT_EQ(panel.Message().isHidden(), !c.messageShown);
        EXPECT_EQ(panel.Progress().isHidden(), c.messageShown);
        EXPECT_EQ(panel.Cancel().isHidden(), c.messageShown);
        EXPECT_EQ(panel.Message().text(), c.text);
    }
}

TEST(QExportControlPanel, ReportsFromAWorkerArriveOnTheGuiThread)
{
    QExportControlPanel panel;
    panel.findChild<QPushButton*>("AllTasks")->click();
    std::thread worker([&] {
        panel.PostProcessed(40);
        panel.PostComplete();
        panel.PostMessage("Copy error");
    });
    worker.join();
    EXPECT_EQ(panel.Progress().Value(), 0);
    EXPECT_TRUE(panel.Cancel().isEnabled());
    Wait(50);
    EXPECT_EQ(panel.Progress().Value(), 40);
    EXPECT_FALSE(panel.Cancel().isEnabled());
    EXPECT_EQ(panel.Message().text(), "Copy error");
}

// The task settings panel over a task of three channels without a prefix.
class ExportTaskSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel.Setup(nullptr);
        apply = panel.findChild<QPushButton*>("applySettingButton");
        ASSERT_NE(apply, nullptr);
        Storage::ExportTask task;
        task.row = 1;
        task.ChannelIds = {"1", "2", "3"};
        task.OutputContainer = "mkv";
        task.FromTime = kFrom;
        panel.SetTask(task);
        panel.TaskEdited.connect([this](Storage::ExportTask& task) { edited.push_back(task); });
    }

    QExportTaskSettingsPanel panel;
    QPushButton* apply = nullptr;
    std::vector<Storage::ExportTask> edited;
};

TEST_F(ExportTaskSettingsTest, ATaskWithoutPrefixIsNamedByItsChannelCount)
{
    panel.ShowPanel();
    EXPECT_EQ(panel.Prefix().text(), "Exported 3");
    EXPECT_EQ(panel.Container().currentText(), "mkv");
    EXPECT_TRUE(apply->isEnabled());
    panel.Prefix().clear();
    EXPECT_FALSE(apply->isEnabled());
    panel.Prefix().setText("Gate");
    EXPECT_TRUE(apply->isEnabled());
}

TEST_F(ExportTaskSettingsTest, ApplyHandsBackTheEditedTask)
{
    panel.ShowPanel();
    panel.Prefix().setText("North gate");
    panel.Container().setCurrentText("avi");
    apply->click();
    ASSERT_EQ(edited.size(), 1u);
    EXPECT_EQ(edited[0].PrefixFileName, "North gate");
    EXPECT_EQ(edited[0].OutputContainer, "avi");
    // The rest of the task travels unchanged.
    EXPECT_EQ(edited[0].row, 1);
    EXPECT_EQ(edited[0].ChannelIds.size(), 3u);
    EXPECT_EQ(edited[0].FromTime, kFrom);
    EXPECT_FALSE(panel.IsShown());
}

TEST_F(ExportTaskSettingsTest, AnUnknownContainerKeepsTheSelection)
{
    Storage::ExportTask task;
    task.ChannelIds = {"1"};
    task.OutputContainer = "mov";
    task.PrefixFileName = "Kept";
    panel.Container().setCurrentText("mkv");
    panel.SetTask(task);
    panel.ShowPanel();
    EXPECT_EQ(panel.Container().currentText(), "mkv");
    EXPECT_EQ(panel.Prefix().text(), "Kept");
}

}  // namespace
