// Title texts, styles, the title set and painting (offscreen platform).

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "config/QApplicationSettings.h"
#include "archive/files/ArchiveSettings.h"
#include "render/Titles.h"

namespace {

std::wstring Lines(int count)
{
    std::wstring text;
    for (int i = 0; i < count; ++i)
        text += (i ? L"\n" : L"") + std::to_wstring(i);
    return text;
}

TEST(Title, KeepsTheTailOfLongTexts)
{
    struct Case {
        std::wstring text;
        std::wstring kept;
    };
    const std::wstring longLine(10000, L'x');
    const Case cases[] = {
        {Lines(100), Lines(100).substr(Lines(100).find(L"\n40\n") + 1)},  // the last 60 lines
        {Lines(60), Lines(60)},
        {Lines(61) + L"\n", Lines(61).substr(2) + L"\n"},                  // a final line feed does not count
        {longLine, std::wstring(8000, L'x')},
        {L"one\\ntwo", L"one\ntwo"},
        {L"a\\\\nb\\", L"a\\\nb\\"},
    };
    for (const Case& c : cases) {
        render::Title title(false);
        title.SetText(c.text);
        EXPECT_EQ(title.GetText(), c.kept) << c.text.size();
    }
}

TEST(Title, ReportsChangesUntilLaidOut)
{
    render::Title title(false);
    render::TitleLayout layout;
    title.Layout(layout, QRectF(0, 0, 100, 100));
    EXPECT_TRUE(title.SetText(L"text"));
    EXPECT_TRUE(title.SetText(L"text")) << "not laid out yet";
    title.Layout(layout, QRectF(0, 0, 100, 100));
    EXPECT_FALSE(title.SetText(L"text"));
    EXPECT_EQ(layout.text, "text");

    // Rectangles replace the text and the text replaces the rectangles.
    const std::vector<render::TitleItem> items{{QRectF(0.1, 0.2, 0.5, 0.25), QColor(255, 0, 0)}};
    EXPECT_TRUE(title.SetItems(items));
    EXPECT_TRUE(title.GetText().empty());
    title.Layout(layout, QRectF(10, 20, 200, 100));
    EXPECT_FALSE(title.SetItems(items));
    ASSERT_EQ(layout.items.size(), 1u);
    EXPECT_EQ(layout.items[0].rect, QRectF(30, 40, 100, 25));
    EXPECT_EQ(layout.bounds, QRectF(30, 40, 100, 25));
    EXPECT_TRUE(title.SetText(L"text")) << "same text, but rectangles were shown";
    EXPECT_TRUE(title.GetItems().empty());
    title.Layout(layout, QRectF(10, 20, 200, 100));
    EXPECT_EQ(layout.bounds, QRectF(20, 25, 180, 90));
}

TEST(Title, ShadowColourAndFontSizeOfRecordedSettings)
{
    struct Case {
        QColor colour, shadow;
    };
    const Case cases[] = {
        {QColor(200, 100, 40), QColor(50, 25, 10)},
        {QColor(255, 255, 255), QColor(63, 63, 63)},
        {QColor(0, 0, 0), QColor(0, 0, 0)},
    };
    for (const Case& c : cases) {
        render::Title title(false);
        title.SetColor(c.colour);
        EXPECT_EQ(title.GetShadowColor(), c.shadow) << c.colour.name().toStdString();
    }
    render::Title fresh(false);
    EXPECT_EQ(fresh.GetShadowColor(), QColor(63, 63, 63));
    EXPECT_EQ(fresh.GetFont().pointSize(), 9);

    struct Recorded {
        unsigned size;
        int points;
    };
    for (const Recorded r : {Recorded{16, 12}, Recorded{15, 11}, Recorded{2, 2}}) {
        TITLES::TitleSettings settings;
        settings.font_name = "Arial";
        settings.font_size = r.size;
        settings.font_color = 0x0028C8FF;  // red 0xFF, green 0xC8, blue 0x28
        settings.x = 0.1;
        settings.y = 0.2;
        settings.w = 0.3;
        settings.h = 0.4;
        settings.title_name = L"Door";
        render::Title title(false);
        title.ApplySettings(settings);
        EXPECT_EQ(title.GetFont().pointSize(), r.points) << r.size;
        EXPECT_EQ(title.GetFont().family(), "Arial");
        EXPECT_EQ(title.GetColor(), QColor(0xFF, 0xC8, 0x28));
        EXPECT_EQ(title.GetPlacement(), QRectF(0.1, 0.2, 0.3, 0.4));
        EXPECT_EQ(title.GetName(), "Door");
    }
    TITLES::TitleSettings flat;
    flat.w = 0;
    render::Title title(false);
    title.ApplySettings(flat);
    EXPECT_EQ(title.GetPlacement(), QRectF(0.05, 0.05, 0.9, 0.9)) << "no rectangle given";
}

TEST(Title, StyleSettersClearRectanglesOrMarkTheFont)
{
    render::Title title(false);
    render::TitleLayout layout;
    title.SetItems({{QRectF(0, 0, 1, 1), Qt::red}});
    title.Layout(layout, QRectF(0, 0, 10, 10));
    EXPECT_TRUE(title.SetFontSize(9)) << "same size, but rectangles were shown";
    EXPECT_TRUE(title.GetItems().empty());
    title.Layout(layout, QRectF(0, 0, 10, 10));
    EXPECT_FALSE(title.SetFontSize(9));
    title.SetBold(true);
    title.SetItalic(true);
    EXPECT_TRUE(title.GetFont().bold());
    EXPECT_TRUE(title.GetFont().italic());

    // Style changes a subtitle makes show at the next layout.
    EXPECT_EQ(title.GetAlignment(), Qt::AlignLeft | Qt::AlignTop);
    EXPECT_TRUE(title.SetAlignment(Qt::AlignHCenter | Qt::AlignBottom));
    title.Layout(layout, QRectF(0, 0, 10, 10));
    EXPECT_FALSE(title.SetAlignment(Qt::AlignHCenter | Qt::AlignBottom));
    EXPECT_TRUE(title.SetPlacement(QRectF(0, 0.8, 1, 0.2)));
    title.Layout(layout, QRectF(0, 0, 10, 10));
    EXPECT_EQ(layout.bounds, QRectF(0, 8, 10, 2));
    EXPECT_TRUE(title.SetFontFamily("Arial"));
    EXPECT_EQ(title.GetFont().family(), "Arial");
}

class TitlesPaint : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "test";
        static char* argv[] = {name, nullptr};
        if (QGuiApplication::instance() == nullptr)
            app = new QGuiApplication(argc, argv);
    }
    static QGuiApplication* app;

    // Paints the title into a black image; counts pixels of each colour.
    static QImage PaintTitle(render::Title& title, const QRectF& box)
    {
        QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        render::TitleLayout layout;
        title.Layout(layout, QRectF(0, 0, 200, 100));
        QPainter painter(&image);
        title.Paint(painter, layout, QRectF(0, 0, 200, 100), box, false);
        return image;
    }
    static int CountColour(const QImage& image, QColor colour, const QRect& within)
    {
        int n = 0;
        for (int y = within.top(); y <= within.bottom(); ++y)
            for (int x = within.left(); x <= within.right(); ++x)
                n += QColor(image.pixel(x, y)) == colour ? 1 : 0;
        return n;
    }
};
QGuiApplication* TitlesPaint::app = nullptr;

TEST_F(TitlesPaint, TextWithShadowInsideTheBox)
{
    render::Title title(false);
    title.SetColor(QColor(200, 100, 40));
    title.SetFontSize(20);
    title.SetText(L"MMMM");
    const QImage image = PaintTitle(title, QRectF(20, 10, 120, 60));
    EXPECT_GT(CountColour(image, QColor(200, 100, 40), QRect(20, 10, 120, 60)), 20);
    EXPECT_GT(CountColour(image, QColor(50, 25, 10), QRect(20, 10, 120, 60)), 5);
    // Nothing outside the box.
    EXPECT_EQ(CountColour(image, QColor(0, 0, 0), QRect(0, 0, 200, 10)), 200 * 10);
    EXPECT_EQ(CountColour(image, QColor(0, 0, 0), QRect(140, 0, 60, 100)), 60 * 100);
}

TEST_F(TitlesPaint, BlackTextIsDrawnOnceAndRectanglesAreOutlined)
{
    render::Title title(false);
    title.SetColor(QColor(0, 0, 0));
    title.SetText(L"MMMM");
    QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QImage once = image;
    render::TitleLayout layout;
    title.Layout(layout, QRectF(0, 0, 200, 100));
    {
        QPainter painter(&image);
        title.Paint(painter, layout, QRectF(0, 0, 200, 100), QRectF(0, 0, 200, 100), false);
    }
    {
        QPainter painter(&once);
        painter.setFont(title.GetFont());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setPen(QColor(0, 0, 0));
        painter.drawText(QRectF(0, 0, 200, 100), Qt::AlignLeft | Qt::AlignTop, "MMMM");
    }
    EXPECT_GT(CountColour(image, QColor(0, 0, 0), image.rect()), 5);
    EXPECT_TRUE(image == once) << "no shadow under black text";

    title.SetItems({{QRectF(0.1, 0.1, 0.5, 0.5), QColor(0, 255, 0)}});
    const QImage boxes = PaintTitle(title, QRectF(0, 0, 200, 100));
    // Item (20, 10, 100, 50) inset by 2: its outline runs through (22, 12).
    EXPECT_EQ(QColor(boxes.pixel(22, 30)), QColor(0, 255, 0));
    EXPECT_EQ(QColor(boxes.pixel(60, 30)), QColor(0, 0, 0)) << "not filled";
}

TEST(Titles, CreatesNamedTitlesWithTheirSwitches)
{
    QApplicationSettings::Instance().SetTitleEnabled(7, 1, false);
    render::Titles titles(7);
    std::vector<std::pair<std::string, bool>> added;
    titles.TitleAdded.connect([&](std::string name, bool visible) { added.emplace_back(name, visible); });

    EXPECT_TRUE(titles.GetTitle(1)->GetName().empty());
    const render::TitlePtr recorded = titles.GetTitle(4);
    EXPECT_EQ(recorded->GetName(), "Titles 2");
    EXPECT_FALSE(recorded->IsVisible()) << "switched off for channel 7, title 1";
    EXPECT_TRUE(recorded->IsAnnounced());
    EXPECT_EQ(titles.GetTitle(4), recorded);
    const render::TitlePtr quiet = titles.GetTitle(6, false, true);
    EXPECT_FALSE(quiet->IsVisible());
    EXPECT_FALSE(quiet->IsAnnounced());
    EXPECT_EQ(added, (std::vector<std::pair<std::string, bool>>{{"Titles 2", false}}));

    EXPECT_EQ(titles.IndexOfName("Titles 4"), 6);
    EXPECT_EQ(titles.IndexOfName("Titles 3"), -1);
    EXPECT_FALSE(titles.FindTitle(5));
    EXPECT_FALSE(titles.FindTitle(60));

    EXPECT_FALSE(titles.IsChanged());
    EXPECT_TRUE(titles.SetTitleText(0, L"Camera"));
    EXPECT_TRUE(titles.TakeChanged());
    EXPECT_FALSE(titles.IsChanged());
}

}  // namespace
