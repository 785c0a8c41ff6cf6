#include "widgets/SkinResources.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <vector>

#include "SkinFiles.h"

namespace {

using Segment = SkinImageGrid::Segment;

struct PartFile {
    const char* suffix;  // appended to the grid's name ("" = name.png)
    QSize size;
    QColor colour;
};

struct PixelCheck {
    QPoint at;
    QColor colour;  // transparent = nothing painted there
};

struct GridCase {
    const char* label;
    const char* name;  // "" loads the empty name
    std::vector<PartFile> files;
    std::vector<Segment> columns;
    std::vector<Segment> rows;
    QSize size;
    std::vector<int> nullImages;  // indices of parts that must be null
    QSize paintInto;
    std::vector<PixelCheck> pixels;
};

const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255), kYellow(255, 255, 0),
    kCyan(0, 255, 255), kMagenta(255, 0, 255), kGrey(128, 128, 128), kWhite(255, 255, 255), kBlack(0, 0, 0);
const QColor kNone(0, 0, 0, 0);

std::vector<GridCase> GridCases()
{
    return {
        {"a single image wins over parts",
         "solo",
         {{"", {4, 3}, kRed}, {"_left", {2, 3}, kGreen}, {"_top", {4, 1}, kBlue}},
         {{4, false}},
         {{3, false}},
         {4, 3},
         {},
         {10, 10},
         {{{0, 0}, kRed}, {{3, 2}, kRed}, {{4, 0}, kNone}, {{0, 3}, kNone}}},
        {"a horizontal set wins over a vertical one",
         "both",
         {{"_left", {2, 3}, kGreen}, {"_center", {1, 3}, kBlue}, {"_right", {2, 3}, kRed}, {"_top", {4, 1}, kYellow}},
         {{2, false}, {1, true}, {2, false}},
         {{3, false}},
         {5, 3},
         {},
         {10, 3},
         {{{0, 0}, kGreen}, {{1, 2}, kGreen}, {{2, 0}, kBlue}, {{7, 2}, kBlue}, {{8, 0}, kRed}, {{9, 2}, kRed}}},
        {"a three-part row missing its centre stretches nothing visible",
         "nocentre",
         {{"_left", {3, 5}, kGreen}, {"_right", {4, 5}, kRed}},
         {{3, false}, {0, true}, {4, false}},
         {{5, false}},
         {7, 5},
         {1},
         {20, 5},
         {{{2, 4}, kGreen}, {{3, 0}, kNone}, {{15, 4}, kNone}, {{16, 0}, kRed}, {{19, 4}, kRed}}},
        {"a vertical set measures its column as the widest part",
         "column",
         {{"_top", {6, 2}, kGreen}, {"_center", {9, 1}, kBlue}, {"_bottom", {4, 2}, kRed}},
         {{9, false}},
         {{2, false}, {1, true}, {2, false}},
         {9, 5},
         {},
         {9, 12},
         {{{5, 1}, kGreen}, {{6, 1}, kNone}, {{8, 2}, kBlue}, {{8, 9}, kBlue}, {{3, 11}, kRed}, {{4, 11}, kNone}}},
        {"a nine-part grid stretches its centre row and column",
         "nine",
         {{"_top_left", {5, 4}, kRed},
          {"_top_center", {1, 4}, kGreen},
          {"_top_right", {7, 4}, kBlue},
          {"_center_left", {5, 1}, kYellow},
          {"_center_center", {1, 1}, kCyan},
          {"_center_right", {7, 1}, kMagenta},
          {"_bottom_left", {5, 6}, kGrey},
          {"_bottom_center", {1, 6}, kWhite},
          {"_bottom_right", {7, 6}, kBlack}},
         {{5, false}, {1, true}, {7, false}},
         {{4, false}, {1, true}, {6, false}},
         {13, 11},
         {},
         {100, 30},
         // Centre cell is (5, 4) .. (92, 23): 88 x 20.
         {{{4, 3}, kRed},
          {{5, 0}, kGreen},
          {{92, 3}, kGreen},
          {{93, 0}, kBlue},
          {{99, 3}, kBlue},
          {{0, 4}, kYellow},
          {{4, 23}, kYellow},
          {{5, 4}, kCyan},
          {{92, 23}, kCyan},
          {{93, 23}, kMagenta},
          {{0, 24}, kGrey},
          {{50, 29}, kWhite},
          {{99, 29}, kBlack}}},
        {"the stretching part is tiled from its cell's origin",
         "tiled",
         {{"_left", {3, 2}, kRed}, {"_right", {3, 2}, kBlue}},  // centre written below
         {{3, false}, {2, true}, {3, false}},
         {{2, false}},
         {8, 2},
         {},
         {12, 2},
         {{{3, 0}, kGreen}, {{4, 0}, kYellow}, {{5, 1}, kGreen}, {{8, 0}, kYellow}, {{9, 0}, kBlue}}},
        {"a name without files is empty", "missing", {}, {}, {}, {0, 0}, {}, {10, 10}, {{{0, 0}, kNone}, {{9, 9}, kNone}}},
        {"the empty name is empty", "", {}, {}, {}, {0, 0}, {}, {10, 10}, {{{0, 0}, kNone}}},
    };
}

void PrintTo(const GridCase& c, std::ostream* os)
{
    *os << c.label;
}

class SkinImageGridLoad : public ::testing::TestWithParam<GridCase> {};

TEST_P(SkinImageGridLoad, MeasuresAndPaints)
{
    const GridCase& c = GetParam();
    SkinFiles files;
    for (const PartFile& file : c.files)
        files.Write(QString(c.name) + file.suffix, file.size, file.colour);
    if (QString(c.name) == "tiled") {
        QImage centre(2, 2, QImage::Format_ARGB32);
        centre.fill(kGreen);
        centre.setPixelColor(1, 0, kYellow);
        centre.setPixelColor(1, 1, kYellow);
        files.WriteImage("tiled_center", centre);
    }

    SkinImageGrid grid;
    grid.Load(QString(c.name).isEmpty() ? QString() : files.Name(c.name));

    EXPECT_EQ(std::vector<Segment>(grid.columns.begin(), grid.columns.end()), c.columns);
    EXPECT_EQ(std::vector<Segment>(grid.rows.begin(), grid.rows.end()), c.rows);
    EXPECT_EQ(grid.images.count(), grid.columns.count() * grid.rows.count());
    EXPECT_EQ(grid.Size(), c.size);
    EXPECT_EQ(grid.IsNull(), c.files.empty());
    for (int i = 0; i < grid.images.count(); ++i) {
        const bool expectNull = std::find(c.nullImages.begin(), c.nullImages.end(), i) != c.nullImages.end();
        EXPECT_EQ(grid.images[i].isNull(), expectNull) << "part " << i;
    }

    QImage canvas(c.paintInto, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        grid.Paint(painter, QRectF(QPointF(0, 0), QSizeF(c.paintInto)));
    }
    for (const PixelCheck& check : c.pixels)
        EXPECT_EQ(canvas.pixelColor(check.at), check.colour)
            << "at (" << check.at.x() << ", " << check.at.y() << ")";
}

INSTANTIATE_TEST_SUITE_P(Grids, SkinImageGridLoad, ::testing::ValuesIn(GridCases()),
                         [](const ::testing::TestParamInfo<GridCase>& info) {
                             return std::string(info.param.name[0] ? info.param.name : "empty");
                         });

TEST(SkinImageGrid, StretchLengthNeverNegativeAndZeroWithoutStretch)
{
    SkinImageGrid grid;
    grid.SetParts({QImage(5, 2, QImage::Format_ARGB32), QImage(3, 2, QImage::Format_ARGB32),
                   QImage(7, 2, QImage::Format_ARGB32)},
                  3);
    EXPECT_EQ(grid.FixedLength(0, false), 12);
    EXPECT_EQ(grid.FixedLength(0, true), 15);
    EXPECT_EQ(grid.StretchCount(0), 1);
    EXPECT_EQ(grid.StretchLength(10, 0), 0) << "fixed columns already take 12 px";
    EXPECT_EQ(grid.StretchLength(20, 0), 8);
    EXPECT_EQ(grid.StretchCount(1), 0);
    EXPECT_EQ(grid.StretchLength(100, 1), 0) << "a single row never stretches";
}

TEST(SkinImageGrid, SetPartsPadsTheLastRowWithNullImages)
{
    SkinImageGrid grid;
    grid.SetParts({QImage(2, 3, QImage::Format_ARGB32), QImage(4, 1, QImage::Format_ARGB32),
                   QImage(1, 5, QImage::Format_ARGB32), QImage(6, 2, QImage::Format_ARGB32)},
                  3);
    ASSERT_EQ(grid.images.count(), 6);
    EXPECT_TRUE(grid.images[4].isNull());
    EXPECT_TRUE(grid.images[5].isNull());
    EXPECT_EQ(grid.columns, (QList<Segment>{{6, false}, {4, true}, {1, false}}));
    EXPECT_EQ(grid.rows, (QList<Segment>{{5, false}, {2, false}}));
}

TEST(SkinStateImages, LoadsTheFourStatesAndNothingForAnEmptyName)
{
    SkinFiles files;
    files.Write("box_normal", {3, 2}, kRed);
    files.Write("box_hover_left", {2, 2}, kBlue);
    files.Write("box_mask", {3, 2}, kBlack);

    SkinStateImages empty;
    empty.LoadFromName(QString());
    for (const SkinImageGrid* grid : {&empty.normal, &empty.pressed, &empty.hover, &empty.mask})
        EXPECT_TRUE(grid->images.isEmpty() && grid->columns.isEmpty() && grid->rows.isEmpty());

    SkinStateImages states;
    states.LoadFromName(files.Name("box"));
    EXPECT_EQ(states.normal.Size(), QSize(3, 2));
    EXPECT_TRUE(states.pressed.images.isEmpty()) << "no pressed file";
    EXPECT_EQ(states.hover.columns.count(), 3);
    EXPECT_EQ(states.mask.Size(), QSize(3, 2));
}

TEST(ResourcePaths, BuildOnTheApplicationDirectory)
{
    EXPECT_EQ(ApplicationDirectory(), QCoreApplication::applicationDirPath() + "/");
    const QString root = "C:/Program/Player/";
    EXPECT_EQ(ResourcePath(root, "QSlider/QAudioSlider.css"), "C:/Program/Player/Resources/QSlider/QAudioSlider.css");
    EXPECT_EQ(ImageResourcePath(root, "Combobox_normal"), "C:/Program/Player/Resources/Combobox_normal.png");
    EXPECT_EQ(BackgroundImagePath(root), "C:/Program/Player/Resources/Back_main.png");
    EXPECT_EQ(ArrowButtonImagePath(true, false), ApplicationDirectory() + "Resources/Arrow_Right_Normal.png");
    EXPECT_EQ(ArrowButtonImagePath(false, true), ApplicationDirectory() + "Resources/Arrow_Left_Active.png");
}

TEST(ResourcePaths, StyleSheetAppliedOnlyWhenItsFileExists)
{
    SkinFiles files;
    QWidget widget;
    widget.setStyleSheet("QWidget { color: red; }");
    ApplyStyleSheet(ApplicationDirectory(), &widget, files.Name("absent.css"));
    EXPECT_EQ(widget.styleSheet(), "QWidget { color: red; }");
    EXPECT_FALSE(widget.testAttribute(Qt::WA_NoSystemBackground));

    const QString path = ResourcePath(ApplicationDirectory(), files.Name("present.css"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QString("QWidget { color: blue; } /* \u00e9 */").toUtf8());
    }
    ApplyStyleSheet(ApplicationDirectory(), &widget, files.Name("present.css"));
    EXPECT_EQ(widget.styleSheet(), QString("QWidget { color: blue; } /* \u00e9 */"));
    EXPECT_TRUE(widget.testAttribute(Qt::WA_NoSystemBackground));
    QFile::remove(path);
}

// The skin the build draws beside the executables.
TEST(ShippedSkin, HasTheLayoutTheWidgetsNeedAndVerdanaIsDejaVuSans)
{
    const QString root = GAVEX_SKIN_ROOT;
    QSize combobox(0, 0);
    for (const char* part : {"left", "center", "right"}) {
        const QImage image = LoadImageResource(root, QString("Combobox_normal_%1").arg(part));
        ASSERT_FALSE(image.isNull()) << part;
        combobox.rwidth() += image.width();
        combobox.setHeight(image.height());
    }
    EXPECT_EQ(combobox, QSize(185, 30));
    EXPECT_EQ(LoadImageResource(root, "Selected_VideoTimeLineBack").height(), 90);
    for (const char* row : {"top", "center", "bottom"})
        EXPECT_EQ(LoadImageResource(root, QString("RollBox_back_%1").arg(row)).height(), 20) << row;
    for (const char* state : {"normal", "pressed", "hover"})
        EXPECT_FALSE(LoadImageResource(root, QString("Play_btn_%1").arg(state)).isNull()) << state;
    EXPECT_FALSE(QImage(BackgroundImagePath(root)).isNull());
    EXPECT_EQ(LoadApplicationIcon(root).availableSizes(),
              (QList<QSize>{QSize(16, 16), QSize(32, 32), QSize(48, 48)}));

    ASSERT_TRUE(RegisterSkinFonts(root));
    EXPECT_EQ(QFontInfo(QFont("Verdana", 10)).family(), "DejaVu Sans");
}

}  // namespace
