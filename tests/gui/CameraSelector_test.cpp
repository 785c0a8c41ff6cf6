// The camera selector: filling, selecting by exact name, and the names it
// reports, including the round trip with a controller that selects back.

#include <QCoreApplication>
#include <QResizeEvent>

#include <gtest/gtest.h>

#include "gui/panels/QCameraSelectorPanel.h"
#include "widgets/QCustomComboBox.h"

namespace {

class CameraSelectorTest : public ::testing::Test {
protected:
    CameraSelectorTest()
    {
        selector.CameraChanged.connect([this](const std::wstring& name) { heard.push_back(name); });
    }

    QCameraSelectorPanel selector;
    std::vector<std::wstring> heard;
};

TEST_F(CameraSelectorTest, FillingMakesTheFirstCurrentAndClearingReportsAnEmptyName)
{
    EXPECT_EQ(selector.minimumWidth(), 200);
    EXPECT_EQ(selector.maximumWidth(), 200);
    selector.SetCameras({});
    EXPECT_EQ(selector.ComboBox()->count(), 0);
    EXPECT_TRUE(heard.empty());

    selector.SetCameras({L"Gate", L"Kassa \u00e9", L"Yard"});
    EXPECT_EQ(selector.ComboBox()->count(), 3);
    EXPECT_EQ(selector.ComboBox()->itemText(1), QString::fromStdWString(L"Kassa \u00e9"));
    EXPECT_EQ(heard, std::vector<std::wstring>({L"Gate"}));

    selector.SetCameras({});
    EXPECT_EQ(heard, std::vector<std::wstring>({L"Gate", L""}));
}

TEST_F(CameraSelectorTest, SelectsOnlyAnExactNameAndTheFirstOfEqualNames)
{
    selector.SetCameras({L"Gate", L"Yard", L"Dock", L"Yard"});
    heard.clear();
    struct Case {
        const wchar_t* name;
        int current;
        std::vector<std::wstring> heard;
    };
    const Case cases[] = {
        {L"yard", 0, {}},        // letter case differs
        {L"Nowhere", 0, {}},     // not listed
        {L"Gate", 0, {}},        // already current
        {L"Yard", 1, {L"Yard"}},  // the first of two
        {L"Dock", 2, {L"Dock"}},
        {L"Yard", 1, {L"Yard"}},
    };
    for (const Case& c : cases) {
        heard.clear();
        selector.SelectCamera(c.name);
        EXPECT_EQ(selector.ComboBox()->currentIndex(), c.current) << QString::fromWCharArray(c.name).toStdString();
        EXPECT_EQ(heard, c.heard);
    }
}

// The user's pick reaches the controller, which selects the same camera
// back: nothing more is reported.
TEST_F(CameraSelectorTest, AUserChoiceIsReportedOnceThroughTheRoundTrip)
{
    selector.SetCameras({L"Gate", L"Yard"});
    heard.clear();
    selector.CameraChanged.connect([this](const std::wstring& name) { selector.SelectCamera(name); });
    selector.ComboBox()->setCurrentIndex(1);
    EXPECT_EQ(heard, std::vector<std::wstring>({L"Yard"}));
}

TEST_F(CameraSelectorTest, CentresTheBox)
{
    selector.setMinimumHeight(0);
    selector.setMaximumHeight(500);
    selector.resize(200, 91);
    QResizeEvent resize(QSize(200, 91), QSize());
    QCoreApplication::sendEvent(&selector, &resize);
    EXPECT_EQ(selector.ComboBox()->geometry(), QRect(7, 30, 185, 30));
}

}  // namespace
