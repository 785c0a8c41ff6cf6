// The roll box and its item lists: captions and entries, the lists' change
// signals, the task list's trailing empty task, scrolling that snaps to
// rows, the caption marquee, clicks on tasks and their delete buttons, and
// the progress bar of a task.

#include "widgets/QRollBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>
#include <QTest>
#include <gtest/gtest.h>

#include "config/ResourcePaths.h"

namespace {

// The roll box reads fixed skin names. Test cases run as parallel processes
// over one Resources folder, so each file is written once, whole (by
// rename), in the same look, and left there.
void EnsureSkinImage(const QString& name, QSize size, QColor colour)
{
    const QString path = ImageResourcePath(ApplicationDirectory(), name);
    if (QFile::exists(path))
        return;
    QDir().mkpath(ResourcesDirectory(ApplicationDirectory()));
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    QSaveFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(image.save(&file, "PNG"));
    ASSERT_TRUE(file.commit() || QFile::exists(path));
}

// A 16 px delete button and a red progress image; no back image, so rows
// are 20 px in a 60 px box.
void EnsureRollBoxSkin()
{
    for (const char* state : {"normal", "pressed", "hover"})
        EnsureSkinImage(QString("RollBox_delete_process_%1").arg(state), QSize(16, 16), QColor(190, 70, 60));
    EnsureSkinImage("RollBox_item_progress", QSize(8, 20), QColor(255, 0, 0));
}

// Runs events until the box's move animation has ended (at most 5 s).
void WaitForMove(const QRollBox& box)
{
    QElapsedTimer timer;
    timer.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (box.MoveAnimation().state() != QAbstractAnimation::Stopped && timer.elapsed() < 5000);
}

RollBoxItem ItemWith(const QStringList& names)
{
    RollBoxItem item;
    for (const QString& name : names)
        item.AddEntry(name, name.toLower());
    return item;
}

TEST(RollBoxItem, CaptionJoinsUniqueSortedEntryNames)
{
    struct Case {
        QStringList added;
        QString caption;
    };
    const Case cases[] = {
        {{}, "New export task"},
        {{"B", "A"}, "A, B"},
        {{"Cam 2", "Cam 2"}, "Cam 2"},
        {{"", "C"}, "C"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.added.join("|").toStdString());
        EXPECT_EQ(ItemWith(c.added).Text(), c.caption);
    }
}

TEST(RollBoxList, EachChangeSignalsWhatItChanged)
{
    SimpleRollBoxList list;
    QStringList signalled;
    list.ItemsChanged.connect([&] { signalled << "items"; });
    list.ListChanged.connect([&] { signalled << "list"; });
    struct Case {
        const char* name;
        std::function<void()> change;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"add", [&] { list.AddItem("one", 1); }, {"items", "list"}},
        {"remove out of range", [&] { list.RemoveItem(5); }, {"items", "list"}},
        {"done", [&] { list.SetItemDone(0, 1); }, {"items"}},
        {"progress", [&] { list.SetItemProgress(0, 40); }, {"items"}},
        {"progress of no item", [&] { list.SetItemProgress(-1, 40); }, {}},
        {"data", [&] { list.SetItemData(0, 7); }, {}},
        {"replace no item", [&] { list.SetItem(-1, ItemWith({"x"})); }, {}},
        {"replace", [&] { list.SetItem(0, ItemWith({"two"})); }, {"items", "list"}},
        {"clear", [&] { list.Clear(); }, {"items", "list"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        signalled.clear();
        c.change();
        EXPECT_EQ(signalled, c.expected);
    }
    EXPECT_EQ(list.Count(), 0);
}

TEST(RollBoxList, ReplacingAnItemTakesAllItsFieldsAndSortingFollowsCaptions)
{
    SimpleRollBoxList list;
    list.AddItem("b", 2);
    list.AddItem("a", 1);
    RollBoxItem item = ItemWith({"c"});
    item.done = 1;
    item.progress = 70;
    item.data = 3;
    list.SetItem(0, item);
    EXPECT_EQ(list.Item(0).Text(), "c");
    EXPECT_EQ(list.Item(0).done, 1);
    EXPECT_EQ(list.Item(0).progress, 70);
    EXPECT_EQ(list.IndexOf(3), 0);

    list.SetSorted(true);
    EXPECT_EQ(list.Item(0).Text(), "a");
    EXPECT_EQ(list.Item(1).Text(), "c");
    list.AddItem("b2", 4);
    EXPECT_EQ(list.IndexOf(4), 1);
    EXPECT_EQ(list.IndexOf(99), -1);
}

TEST(ExtendedRollBoxList, AlwaysEndsWithExactlyOneNewTask)
{
    auto list = std::make_shared<ExtendedRollBoxList>();
    QRollBox box(list);
    ASSERT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Item(0).Text(), "New export task");

    RollBoxItem first = ItemWith({"Cam 2"});
    first.data = 11;
    list->SetItem(0, first);
    ASSERT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Item(1).Text(), "New export task");

    // Entries merge; data is replaced; done and progress stay.
    list->SetItemProgress(0, 30);
    RollBoxItem more = ItemWith({"Cam 1", "Cam 2"});
    more.data = 12;
    more.progress = 90;
    list->SetItem(0, more);
    EXPECT_EQ(list->Count(), 2);
    EXPECT_EQ(list->Item(0).Text(), "Cam 1, Cam 2");
    EXPECT_EQ(list->Item(0).data, QVariant(12));
    EXPECT_EQ(list->Item(0).progress, 30);

    list->Clear();
    ASSERT_EQ(list->Count(), 1);
    EXPECT_TRUE(list->Item(0).entries.empty());
}

// Five plain items in a 60 px box: rows of 20 px.
class RollBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureRollBoxSkin();
        for (const char* caption : {"one", "two", "three", "four", "five"})
            list->AddItem(caption, caption);
        box.resize(300, 60);
        box.CurrentChanged.connect([this](int index) { emitted.push_back(index); });
    }

    std::shared_ptr<SimpleRollBoxList> list = std::make_shared<SimpleRollBoxList>();
    QRollBox box{list};
    std::vector<int> emitted;
};

TEST_F(RollBoxTest, ItemsLieInRowsAroundTheMiddle)
{
    ASSERT_EQ(box.height(), 60);
    EXPECT_EQ(box.RowHeight(), 20);
    EXPECT_EQ(box.ItemRect(0), QRect(0, 20, 300, 20));
    box.SelectItem(1, false);
    EXPECT_EQ(box.ItemRect(1), QRect(0, 20, 300, 20));
    EXPECT_EQ(box.ItemRect(0), QRect(0, 0, 300, 20));
}

TEST_F(RollBoxTest, ScrollToSnapsToTheNearestRowWithinTheItems)
{
    struct Case {
        double to;
        double snapped;
    };
    const Case cases[] = {{27, 20}, {31, 40}, {-5, 0}, {1000, 80}, {10, 0}, {50, 40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        box.ScrollTo(c.to, false);
        EXPECT_EQ(box.Scroll(), c.snapped);
        EXPECT_EQ(box.CurrentIndex(), static_cast<int>(c.snapped) / 20);
    }
    // Animated, the same place is reached when the 500 ms move ends.
    box.ScrollTo(0, false);
    box.ScrollTo(31, true);
    EXPECT_EQ(box.Scroll(), 0);
    WaitForMove(box);
    EXPECT_EQ(box.Scroll(), 40);
    EXPECT_EQ(box.CurrentIndex(), 2);
}

TEST_F(RollBoxTest, AFlingEndsOnARowHalfItsVelocityFurther)
{
    for (int i = 0; i < 15; ++i)
        list->AddItem(QString("more %1").arg(i, 2, 10, QChar('0')), i);
    int64_t now = 0;
    box.SetFlingClock([&] { return now; });
    box.SelectItem(1, false);
    // Upward by 40 px in 100 ms: -400 px/s, from scroll 20 + 40.
    QTest::mousePress(&box, Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    now = 100;
    QMouseEvent move(QEvent::MouseMove, QPointF(100, 10), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&box, &move);
    EXPECT_EQ(box.Scroll(), 60);
    QTest::mouseRelease(&box, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    WaitForMove(box);
    EXPECT_EQ(box.Scroll(), 260);
    EXPECT_EQ(box.CurrentIndex(), 13);

    // Flung past the end, it stops on the last item.
    now = 0;
    QTest::mousePress(&box, Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    now = 10;
    QCoreApplication::sendEvent(&box, &move);
    QTest::mouseRelease(&box, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    WaitForMove(box);
    EXPECT_EQ(box.CurrentIndex(), list->Count() - 1);
}

TEST_F(RollBoxTest, CurrentChangedTellsOfANewRowOnceAndOfEveryListChange)
{
    box.SelectItem(1, false);
    box.SelectItem(1, false);
    EXPECT_EQ(emitted, (std::vector<int>{1}));
    list->AddItem("six", 6);
    EXPECT_EQ(emitted, (std::vector<int>{1, 1}));
}

TEST_F(RollBoxTest, RollingStopsAtTheEnds)
{
    box.rollUp();
    WaitForMove(box);
    EXPECT_EQ(box.CurrentIndex(), 0);
    box.SelectItem(4, false);
    box.rollDown();
    WaitForMove(box);
    EXPECT_EQ(box.CurrentIndex(), 4);
    box.rollUp();
    WaitForMove(box);
    EXPECT_EQ(box.CurrentIndex(), 3);
}

TEST_F(RollBoxTest, ACaptionThatDoesNotFitRunsAsAMarquee)
{
    struct Case {
        QStringList names;
        int duration;
    };
    const Case cases[] = {
        {{"A very long camera name one", "A very long camera name two"}, 3000},
        {{"Camera north gate", "Camera south gate", "Camera east gate", "Camera west gate", "Camera yard"}, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.duration);
        list->SetItem(0, ItemWith(c.names));
        box.SelectItem(0, false);
        ASSERT_TRUE(box.CaptionScrolling());
        const int width = QFontMetrics(box.Font()).horizontalAdvance(list->Item(0).Text());
        EXPECT_EQ(box.CaptionAnimation().duration(), c.duration);
        EXPECT_EQ(box.CaptionAnimation().startValue().toDouble(), -300.0);
        EXPECT_EQ(box.CaptionAnimation().endValue().toDouble(), width);
    }
    box.SelectItem(1, false);
    EXPECT_FALSE(box.CaptionScrolling());
}

// Four tasks A-D and the new task; D (row 3) is current, C above it and
// the new task below it are visible.
class TaskRollBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureRollBoxSkin();
        for (const char* task : {"A", "B", "C", "D"}) {
            list->SetItem(list->Count() - 1, ItemWith({task}));
        }
        box.resize(300, 60);
        box.show();
        box.SelectItem(3, false);
        ASSERT_EQ(list->Count(), 5);
    }

    QString CurrentCaption() { return list->Item(box.CurrentIndex()).Text(); }
    // The centre of the delete button of the task in the top row.
    QPoint TopDelete() { return box.DeleteRect(QRect(0, 0, 300, 20)).center(); }

    std::shared_ptr<ExtendedRollBoxList> list = std::make_shared<ExtendedRollBoxList>();
    QRollBox box{list};
};

TEST_F(TaskRollBoxTest, AClickOnTheTaskAboveSelectsThatTask)
{
    QTest::mouseClick(&box, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    EXPECT_EQ(box.CurrentIndex(), 2);
    EXPECT_EQ(CurrentCaption(), "C");
    EXPECT_EQ(box.Scroll(), 40);
}

TEST_F(TaskRollBoxTest, DeletingTheTaskAboveKeepsTheCurrentTask)
{
    ASSERT_FALSE(box.DeleteRect(QRect(0, 0, 300, 20)).isEmpty());
    QTest::mouseClick(&box, Qt::LeftButton, Qt::NoModifier, TopDelete());
    EXPECT_EQ(list->Count(), 4);
    EXPECT_EQ(CurrentCaption(), "D");
    EXPECT_EQ(box.CurrentIndex(), 2);
}

TEST_F(TaskRollBoxTest, DeletingTheCurrentTaskSelectsTheRowUnderThePointer)
{
    const QPoint middleDelete = box.DeleteRect(QRect(0, 20, 300, 20)).center();
    QTest::mouseClick(&box, Qt::LeftButton, Qt::NoModifier, middleDelete);
    WaitForMove(box);
    EXPECT_EQ(list->Count(), 4);
    EXPECT_EQ(box.CurrentIndex(), 3);
    EXPECT_EQ(CurrentCaption(), "New export task");
}

TEST_F(TaskRollBoxTest, AClickBelowSelectsThatRowWithAnimation)
{
    QTest::mouseClick(&box, Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    EXPECT_EQ(box.CurrentIndex(), 4);
    EXPECT_EQ(box.Scroll(), 60);  // still moving
    WaitForMove(box);
    EXPECT_EQ(box.Scroll(), 80);
    EXPECT_EQ(CurrentCaption(), "New export task");
}

TEST_F(TaskRollBoxTest, ProgressCoversItsShareOfTheTaskRow)
{
    auto redAt = [&](int x) {
        const QImage image = box.grab().toImage();
        const QColor colour = image.pixelColor(x, 22);  // the middle row's top
        return colour.red() > 200 && colour.green() < 60;
    };
    EXPECT_FALSE(redAt(5));
    list->SetItemProgress(3, 50);
    EXPECT_TRUE(redAt(5));
    // Half of 300 px; the caption sits in the middle, away from the edge.
    EXPECT_TRUE(redAt(100));
    EXPECT_TRUE(redAt(148));
    EXPECT_FALSE(redAt(152));
    EXPECT_FALSE(redAt(225));
    list->SetItemProgress(3, 0);
    EXPECT_FALSE(redAt(5));
}

}  // namespace
