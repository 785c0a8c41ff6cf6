// The source browser's page models and the path pages.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QKeyEvent>

#include "config/QApplicationSettings.h"
#include "widgets/QCustomInputs.h"
#include "gui/sources/SourceModels.h"
#include "gui/sources/SourceTargetWidgets.h"
#include "GuiTestApp.h"

namespace {

using model::QDriverModel;
using model::SingleSourceTargetModel;

// Key presses as the user types them.
void Type(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

void PressReturn(QWidget* widget)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

std::vector<bool> Recorded(QDriverModel& model, std::vector<bool>& ready)
{
    model.ReadyChanged.connect([&ready](bool r) { ready.push_back(r); });
    return ready;
}

TEST(QDriverModel, CheckingKeepsTheOrderOfChecks)
{
    guitest::Application();
    QDriverModel model([] { return std::vector<std::string>{"/", "/media/usb/", "/mnt/archive/"}; });
    std::vector<bool> ready;
    Recorded(model, ready);
    model.RefreshDrives();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(), "/");
    EXPECT_EQ(model.data(model.index(1), Qt::DisplayRole).toString(), "usb");
    EXPECT_EQ(model.data(model.index(2), Qt::UserRole).toString(), "/mnt/archive/");
    EXPECT_FALSE(model.data(model.index(3), Qt::DisplayRole).isValid());
    EXPECT_FALSE(model.data(model.index(1), Qt::ToolTipRole).isValid());
    EXPECT_EQ(static_cast<int>(model.flags(model.index(0))), 51);

    const struct {
        int row;
        Qt::CheckState state;
        std::vector<std::wstring> paths;
        bool ready;
    } steps[] = {
        {2, Qt::Checked, {L"/mnt/archive/"}, true},
        {1, Qt::Checked, {L"/mnt/archive/", L"/media/usb/"}, true},
        {2, Qt::Checked, {L"/mnt/archive/", L"/media/usb/"}, true},  // a second check adds nothing
        {2, Qt::Unchecked, {L"/media/usb/"}, true},
        {1, Qt::Unchecked, {}, false},
    };
    for (const auto& step : steps) {
        EXPECT_TRUE(model.setData(model.index(step.row), step.state, Qt::CheckStateRole));
        EXPECT_EQ(model.GetPaths(), step.paths);
        EXPECT_EQ(model.data(model.index(step.row), Qt::CheckStateRole).toInt(), step.state);
        ASSERT_FALSE(ready.empty());
        EXPECT_EQ(ready.back(), step.ready);
    }
}

TEST(QDriverModel, SettingsRestoreOnlyPresentDrives)
{
    guitest::Application();
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.VideoFolders[0] = {L"/srv/d/", L"/srv/f/", L"/SRV/E/"};
    QDriverModel model([] { return std::vector<std::string>{"/srv/c/", "/srv/d/", "/srv/e/"}; });
    std::vector<bool> ready, shown;
    Recorded(model, ready);
    model.PageShown.connect([&] { shown.push_back(true); });
    model.LoadFromSettings();
    EXPECT_EQ(model.GetPaths(), std::vector<std::wstring>{L"/srv/d/"});
    model.UpdateState();
    EXPECT_EQ(ready, std::vector<bool>{true});
    EXPECT_EQ(shown.size(), 1u);

    model.setData(model.index(0), Qt::Checked, Qt::CheckStateRole);
    model.SaveToSettings();
    EXPECT_EQ(live.VideoFolders[0], (std::vector<std::wstring>{L"/srv/d/", L"/srv/c/"}));

    QDriverModel none([] { return std::vector<std::string>{}; });
    std::vector<bool> noneReady;
    Recorded(none, noneReady);
    none.LoadFromSettings();
    none.UpdateState();
    EXPECT_EQ(none.rowCount(), 0);
    EXPECT_EQ(noneReady, std::vector<bool>{false});
}

TEST(SingleSourceTargetModel, PathAndSettings)
{
    guitest::Application();
    SettingsProfile& live = QApplicationSettings::Instance().Live;
    live.VideoFolders[3].clear();
    SingleSourceTargetModel model(3);
    std::vector<bool> ready;
    int changed = 0;
    model.ReadyChanged.connect([&](bool r) { ready.push_back(r); });
    model.PathChanged.connect([&](const SingleSourceTargetModel* m) { changed += m == &model; });

    EXPECT_EQ(model.GetPaths(), std::vector<std::wstring>{L""});
    model.UpdateState();
    EXPECT_EQ(ready, std::vector<bool>{false});
    model.LoadFromSettings();  // nothing remembered: nothing changes
    EXPECT_EQ(changed, 0);

    live.VideoFolders[3] = {L"/video/one", L"/video/two"};
    model.LoadFromSettings();
    EXPECT_EQ(model.GetPath(), "/video/one");
    EXPECT_EQ(ready.back(), true);
    EXPECT_EQ(changed, 1);

    model.SetPath("/video/ü");
    model.SaveToSettings();
    EXPECT_EQ(live.VideoFolders[3], std::vector<std::wstring>{L"/video/ü"});
    EXPECT_EQ(model.GetSourceMode(), 3);
}

// A page whose chooser answers what the test says.
class ScriptedTargetWidget : public QSingleSourceTargetWidget {
public:
    QString answer;

protected:
    QString ChooseSource() override { return answer; }
};

TEST(QSingleSourceTargetWidget, EditEnterAndChooser)
{
    guitest::Application();
    auto model = std::make_shared<SingleSourceTargetModel>(1, "/start");
    ScriptedTargetWidget widget;
    widget.SetModel(model);
    int accepted = 0;
    widget.Accepted.connect([&] { ++accepted; });
    QCustomLineEdit* edit = widget.findChild<QCustomLineEdit*>("lblChooseSource");
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(widget.findChild<QLabel*>("lblChooseDescribe"), nullptr);
    EXPECT_EQ(edit->text(), "/start");

    edit->clear();
    Type(edit, "/typed");
    EXPECT_EQ(model->GetPath(), "/typed");
    EXPECT_EQ(accepted, 0);  // typing alone does not accept
    PressReturn(edit);
    EXPECT_EQ(accepted, 1);

    auto* choose = widget.findChild<QPushButton*>("btnChooseButton");
    ASSERT_NE(choose, nullptr);
    widget.answer = "";
    choose->click();  // cancelled: nothing changes
    EXPECT_EQ(model->GetPath(), "/typed");
    EXPECT_EQ(accepted, 1);
    widget.answer = "/chosen/folder/";
    choose->click();
    EXPECT_EQ(model->GetPath(), "/chosen/folder/");
    EXPECT_EQ(edit->text(), "/chosen/folder/");
    EXPECT_EQ(accepted, 2);

    // The model's own changes reach the edit; the page follows the model.
    model->SetPath("/from/settings");
    EXPECT_EQ(edit->text(), "/from/settings");
    widget.show();
    model->Deactivate();
    EXPECT_FALSE(widget.isVisible());
    model->UpdateState();
    EXPECT_TRUE(widget.isVisible());
}

}  // namespace
