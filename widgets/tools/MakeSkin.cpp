// Draws the player's own skin into a Resources folder: every skin image in
// the part layout the loader probes, each role in its own flat colour so
// screenshots show which part is which.
//
// Usage: gavex_make_skin <Resources folder>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>

#include <algorithm>
#include <cstdio>

namespace {

enum class Layout { Single, Horizontal, Vertical, NinePart };

struct SkinImage {
    const char* name;
    Layout layout;
    QSize size;  // the natural size of the whole image
    QColor colour;
    bool states;  // drawn as "_normal", "_pressed", "_hover"
    int end = 0;  // length of the fixed end parts; 0 = up to 8 px
};

// The state looks differ in brightness, so a state change is visible.
QColor StateColour(const QColor& base, int state)
{
    return state == 0 ? base : state == 1 ? base.darker(140) : base.lighter(130);
}

bool Save(const QImage& image, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage Flat(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Splits the natural size into parts: fixed ends of up to 8 px and a
// stretching middle of the rest, so the parts add up to the natural size.
bool DrawImage(const QString& dir, const QString& name, Layout layout, QSize size, const QColor& colour, int end)
{
    const int endW = end > 0 ? end : std::max(1, std::min(8, size.width() / 4));
    const int endH = end > 0 ? end : std::max(1, std::min(8, size.height() / 4));
    const int midW = std::max(1, size.width() - 2 * endW);
    const int midH = std::max(1, size.height() - 2 * endH);
    bool ok = true;
    switch (layout) {
    case Layout::Single:
        return Save(Flat(size, colour), dir + name + ".png");
    case Layout::Horizontal: {
        const QSize end(endW, size.height());
        ok &= Save(Flat(end, colour.darker(115)), dir + name + "_left.png");
        ok &= Save(Flat(QSize(midW, size.height()), colour), dir + name + "_center.png");
        ok &= Save(Flat(end, colour.darker(115)), dir + name + "_right.png");
        return ok;
    }
    case Layout::Vertical: {
        const QSize end(size.width(), endH);
        ok &= Save(Flat(end, colour.darker(115)), dir + name + "_top.png");
        ok &= Save(Flat(QSize(size.width(), midH), colour), dir + name + "_center.png");
        ok &= Save(Flat(end, colour.darker(115)), dir + name + "_bottom.png");
        return ok;
    }
    case Layout::NinePart: {
        const char* rows[] = {"top", "center", "bottom"};
        const char* columns[] = {"left", "center", "right"};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const QSize part(c == 1 ? midW : endW, r == 1 ? midH : endH);
                const QColor fill = (r == 1 && c == 1) ? colour : colour.darker(115);
                ok &= Save(Flat(part, fill), dir + QString("%1_%2_%3.png").arg(name, rows[r], columns[c]));
            }
        return ok;
    }
    }
    return false;
}

// Sizes fit the main window's layout into 960x540: a panel strip of about
// 90 px, buttons of 24-34 px.
const SkinImage kSkin[] = {
    // The docked panels' strip (its height sets theirs) and the watermark.
    {"Selected_VideoTimeLineBack", Layout::Single, {16, 90}, QColor(40, 44, 52), false},
    {"Selected_VideoTimeLineBack_Panel_Delimiter", Layout::Single, {2, 90}, QColor(90, 96, 110), false},
    {"United_VideoTimeLineBack", Layout::Single, {16, 40}, QColor(34, 38, 46), false},
    {"United_VideoTimeLineBack_Panel_Delimiter", Layout::Single, {2, 40}, QColor(90, 96, 110), false},
    {"Watermark", Layout::Single, {120, 40}, QColor(255, 255, 255, 60), false},
    // The two time lines ("Selected" framed, "United" plain).
    {"Selected_VideoTimeLineCenterMarker", Layout::Single, {3, 64}, QColor(255, 200, 0), false},
    {"United_VideoTimeLineCenterMarker", Layout::Single, {3, 40}, QColor(255, 200, 0), false},
    {"Selected_Background_Left", Layout::Single, {10, 64}, QColor(58, 62, 72), false},
    {"Selected_Background_Center", Layout::Single, {4, 64}, QColor(66, 70, 80), false},
    {"Selected_Background_Right", Layout::Single, {10, 64}, QColor(58, 62, 72), false},
    {"Selected_Shadow_Left", Layout::Single, {12, 64}, QColor(0, 0, 0, 90), false},
    {"Selected_Shadow_Right", Layout::Single, {12, 64}, QColor(0, 0, 0, 90), false},
    {"Selected_archiveVideoTimeLine", Layout::Single, {4, 8}, QColor(60, 170, 90), false},
    {"United_archiveVideoTimeLine", Layout::Single, {4, 12}, QColor(60, 170, 90), false},
    // The gap images: the framed strip clips its ticks to their height; each
    // class has its own width, so the strip shows a gap's class.
    {"Selected_hole_sec", Layout::Single, {6, 56}, QColor(150, 60, 60), false},
    {"Selected_hole_min", Layout::Single, {10, 56}, QColor(170, 80, 60), false},
    {"Selected_hole_hour", Layout::Single, {14, 56}, QColor(190, 100, 60), false},
    {"Selected_hole_day", Layout::Single, {20, 56}, QColor(210, 120, 60), false},
    {"United_hole_sec", Layout::Single, {6, 12}, QColor(150, 60, 60), false},
    {"United_hole_min", Layout::Single, {10, 12}, QColor(170, 80, 60), false},
    {"United_hole_hour", Layout::Single, {14, 12}, QColor(190, 100, 60), false},
    {"United_hole_day", Layout::Single, {20, 12}, QColor(210, 120, 60), false},
    // The time lines' tick marks and cut selection bar.
    {"Selected_riska_small", Layout::Single, {1, 6}, QColor(200, 200, 205), false},
    {"Selected_riska_medium", Layout::Single, {1, 10}, QColor(215, 215, 220), false},
    {"Selected_riska_big", Layout::Single, {2, 18}, QColor(235, 235, 240), false},
    {"United_riska_small", Layout::Single, {1, 6}, QColor(200, 200, 205), false},
    {"United_riska_medium", Layout::Single, {1, 10}, QColor(215, 215, 220), false},
    {"United_riska_big", Layout::Single, {2, 18}, QColor(235, 235, 240), false},
    {"Selected_select_bar_blue", Layout::Single, {4, 4}, QColor(70, 130, 230), false},
    {"United_select_bar_blue", Layout::Single, {4, 4}, QColor(70, 130, 230), false},
    // Buttons (state looks).
    {"Selected_rewind_left", Layout::Single, {24, 24}, QColor(80, 100, 180), true},
    {"Selected_rewind_right", Layout::Single, {24, 24}, QColor(80, 120, 200), true},
    {"United_rewind_left", Layout::Single, {24, 24}, QColor(80, 100, 180), true},
    {"United_rewind_right", Layout::Single, {24, 24}, QColor(80, 120, 200), true},
    {"holeBWD_btn", Layout::Single, {24, 24}, QColor(170, 90, 70), true},
    {"holeFWD_btn", Layout::Single, {24, 24}, QColor(190, 110, 70), true},
    {"BWD_btn", Layout::Single, {30, 30}, QColor(80, 100, 180), true},
    {"Play_btn", Layout::Single, {34, 34}, QColor(60, 160, 80), true},
    {"Pause_btn", Layout::Single, {34, 34}, QColor(200, 150, 40), true},
    {"FWD_btn", Layout::Single, {30, 30}, QColor(80, 120, 200), true},
    {"Calendar_btn", Layout::Single, {28, 28}, QColor(150, 90, 180), true},
    {"Setting_btn", Layout::Single, {28, 28}, QColor(110, 110, 120), true},
    {"Setting_export_btn", Layout::Single, {28, 28}, QColor(130, 110, 150), true},
    {"Browser_btn", Layout::Single, {28, 28}, QColor(90, 130, 130), true},
    // The united time line's snapshot and print buttons.
    {"shot", Layout::Single, {24, 24}, QColor(230, 60, 160), true},
    {"print", Layout::Single, {24, 24}, QColor(40, 200, 220), true},
    // The settings column's exclusive play mode and export mode buttons.
    {"Select_TimeLine", Layout::Single, {34, 34}, QColor(70, 140, 200), true},
    {"Select_Export", Layout::Single, {34, 34}, QColor(200, 110, 70), true},
    {"QSlider/noSound", Layout::Single, {24, 24}, QColor(60, 110, 130), true},
    {"QSlider/maxSound", Layout::Single, {24, 24}, QColor(60, 150, 170), true},
    // Stretchable controls.
    {"Combobox", Layout::Horizontal, {185, 30}, QColor(70, 80, 96), true},
    {"tilesSetupIco", Layout::Single, {24, 24}, QColor(120, 170, 90), true},
    {"RollBox_back", Layout::Vertical, {60, 60}, QColor(50, 56, 66), false, 20},
    // The roll box of the export tasks: three rows of 20 px on a light drum
    // (its captions use the default dark pen), a band marking the middle row,
    // the task decorations.
    {"RollBox_back", Layout::NinePart, {60, 60}, QColor(205, 210, 220), false, 20},
    {"RollBox_shadow", Layout::NinePart, {60, 60}, QColor(0, 0, 0, 24), false, 20},
    {"RollBox_marker", Layout::Horizontal, {60, 22}, QColor(98, 167, 254, 70), false},
    {"RollBox_item_checked", Layout::Single, {14, 14}, QColor(60, 160, 80), false},
    {"RollBox_item_progress", Layout::Single, {8, 20}, QColor(98, 167, 254, 110), false},
    {"RollBox_delete_process", Layout::Single, {16, 16}, QColor(190, 70, 60), true},
    {"riska_small", Layout::Horizontal, {9, 16}, QColor(220, 220, 220), false},
    {"riska_medium", Layout::Horizontal, {12, 24}, QColor(220, 220, 220), false},
    {"riska_big", Layout::Horizontal, {15, 32}, QColor(220, 220, 220), false},
    // The time input panels' calendar button and edit frames, and the play
    // panel's speed badge.
    {"Calendar", Layout::Single, {24, 24}, QColor(150, 90, 180), true},
    {"TextArea", Layout::NinePart, {90, 22}, QColor(225, 228, 235), false, 3},
    {"TextArea_Focused", Layout::NinePart, {90, 22}, QColor(250, 250, 255), false, 3},
    {"speed_background", Layout::Single, {34, 16}, QColor(30, 90, 160), false},
};

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: gavex_make_skin <Resources folder>\n");
        return 2;
    }
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + "/";
    bool ok = QDir().mkpath(dir);
    for (const SkinImage& image : kSkin) {
        if (!image.states) {
            ok &= DrawImage(dir, image.name, image.layout, image.size, image.colour, image.end);
            continue;
        }
        const char* states[] = {"normal", "pressed", "hover"};
        for (int s = 0; s < 3; ++s)
            ok &= DrawImage(dir, QString("%1_%2").arg(image.name, states[s]), image.layout, image.size,
                            StateColour(image.colour, s), image.end);
    }
    // The scene background and the application icon.
    ok &= Save(Flat({64, 64}, QColor(24, 26, 30)), dir + "Back_main.png");
    for (int side : {16, 32, 48})
        ok &= Save(Flat({side, side}, QColor(98, 167, 254)), dir + QString("%1x%1.png").arg(side));
    for (const char* direction : {"Left", "Right"})
        for (const char* look : {"Active", "Normal"})
            ok &= Save(Flat({20, 20}, QString(look) == "Active" ? QColor(98, 167, 254) : QColor(120, 120, 130)),
                       dir + QString("Arrow_%1_%2.png").arg(direction, look));
    // Narrow enough for the volume control to fit the 120 px play panel.
    ok &= Save(Flat({60, 20}, QColor(60, 150, 170)), dir + "QSlider/soundVolumeBar.png");
    // The export bar: its buttons, the progress bar's two frames, Cancel.
    QFile exportStyle(dir + "ExportControlPanel.css");
    ok &= exportStyle.open(QIODevice::WriteOnly | QIODevice::Truncate);
    exportStyle.write("QLabel { color: rgb(220, 224, 232); font-family: Verdana; }\n"
                      "QPushButton { color: rgb(230, 232, 238); background: rgb(70, 80, 96); border: 1px solid "
                      "rgb(98, 167, 254); padding: 2px 8px; }\n"
                      "QPushButton:disabled { color: rgb(130, 134, 142); border-color: rgb(90, 96, 110); }\n"
                      "QPushButton#Cancel { min-width: 16px; max-width: 16px; min-height: 16px; max-height: 16px; "
                      "padding: 0; background: rgb(190, 70, 60); }\n"
                      "QCustomProgressBar { background: rgb(50, 56, 66); }\n"
                      "QCustomProgressBar > QFrame { background: rgb(98, 167, 254); }\n");
    // Style sheets of our own.
    QFile sliderStyle(dir + "QSlider/QAudioSlider.css");
    ok &= sliderStyle.open(QIODevice::WriteOnly | QIODevice::Truncate);
    sliderStyle.write("QSlider::groove:horizontal { height: 6px; background: rgb(50, 56, 66); }\n"
                      "QSlider::sub-page:horizontal { background: rgb(60, 150, 170); }\n"
                      "QSlider::handle:horizontal { width: 8px; margin: -5px 0; background: rgb(200, 200, 210); }\n");
    // The sliding configuration panels: a dark sheet under light text.
    QFile panelStyle(dir + "SettingPanel.css");
    ok &= panelStyle.open(QIODevice::WriteOnly | QIODevice::Truncate);
    panelStyle.write("QWidget { color: rgb(220, 222, 228); font-family: Verdana; font-size: 12px; }\n"
                     "#ExportPanel { background-color: rgb(36, 40, 48); }\n"
                     "#navigationBottomPanel { background-color: rgb(30, 33, 40); }\n"
                     "QLineEdit { background-color: rgb(24, 26, 30); border: 1px solid rgb(90, 96, 110); }\n"
                     "QPushButton { background-color: rgb(58, 62, 72); border: 1px solid rgb(90, 96, 110);"
                     " padding: 4px 16px; }\n"
                     "QPushButton:disabled { color: rgb(120, 124, 132); }\n");
    // The source browser's channel list: icon view and list view.
    const struct {
        const char* file;
        const char* text;
    } channelListStyles[] = {
        {"SettingPanel_VideoSequence_Icon.css",
         "QListWidget { background: rgb(30, 33, 38); color: rgb(220, 220, 225); font-family: Verdana; "
         "font-size: 8pt; }\n"
         "QListWidget::item { width: 160px; height: 200px; }\n"
         "QListWidget::item:selected { background: rgb(60, 150, 170); }\n"},
        {"SettingPanel_VideoSequence_List.css",
         "QListWidget { background: rgb(30, 33, 38); color: rgb(220, 220, 225); font-family: Verdana; "
         "font-size: 8pt; }\n"
         "QListWidget::item:selected { background: rgb(60, 150, 170); }\n"},
    };
    for (const auto& style : channelListStyles) {
        QFile file(dir + style.file);
        ok &= file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        ok &= file.write(style.text) > 0;
    }
    return ok ? 0 : 1;
}
