// Draws the player's own skin into a Resources folder: every skin image in
// the part layout the loader probes, and the style sheets the widgets read.
// One flat dark style: buttons are rounded tiles with a light, antialiased
// symbol; hover lights the tile and rings it in the accent colour, pressed
// fills it with the accent. The pixel sizes chosen here set the sizes of the
// skinned widgets, so they are picked to fit the controls layer into the
// window from its default size up.
//
// Usage: gavex_make_skin <Resources folder>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSize>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The palette of the whole skin.
const QColor kLine(78, 86, 100);
const QColor kFace(56, 62, 74);
const QColor kFaceHover(74, 82, 98);
const QColor kAccent(72, 140, 230);
const QColor kAccentLight(140, 190, 255);
const QColor kInk(226, 230, 238);
const QColor kPlay(96, 204, 120);
const QColor kPause(240, 190, 70);
const QColor kDanger(220, 84, 72);

enum class Glyph {
    Play,
    Pause,
    StepBack,     // bar and triangle pointing left: one frame back, slower
    StepForward,  // triangle and bar: one frame on, faster
    SkipBegin,    // bar and double triangle: to the first recording
    SkipEnd,
    PrevRecord,   // double triangle: to the previous recording
    NextRecord,
    Calendar,
    Gear,
    Sliders,  // an export task's own settings
    Folder,
    Camera,
    Printer,
    Film,
    Export,
    SpeakerMute,
    SpeakerLoud,
    Cross,
    Tiles,
};

struct Button {
    const char* name;
    int side;
    Glyph glyph;
};

bool Save(const QImage& image, const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QImage Blank(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage Flat(QSize size, const QColor& colour)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

bool WriteText(const QString& path, const char* text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QPolygonF Triangle(double left, double top, double width, double height, bool pointsRight)
{
    if (pointsRight)
        return QPolygonF({QPointF(left, top), QPointF(left + width, top + height / 2), QPointF(left, top + height)});
    return QPolygonF({QPointF(left + width, top), QPointF(left, top + height / 2), QPointF(left + width, top + height)});
}

// Draws a symbol into the square (0, 0, s, s) in `ink`. Coordinates are in
// units of s / 24, so every size shares one drawing.
void DrawGlyph(QPainter& p, Glyph glyph, double s, const QColor& ink)
{
    p.save();
    p.scale(s / 24.0, s / 24.0);
    const QPen pen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    switch (glyph) {
    case Glyph::Play:
        p.drawPolygon(Triangle(8, 5.5, 10.5, 13, true));
        break;
    case Glyph::Pause:
        p.drawRoundedRect(QRectF(7, 6, 3.6, 12), 1, 1);
        p.drawRoundedRect(QRectF(13.4, 6, 3.6, 12), 1, 1);
        break;
    case Glyph::StepBack:
        p.drawRect(QRectF(6, 7, 2.4, 10));
        p.drawPolygon(Triangle(9.5, 7, 8.5, 10, false));
        break;
    case Glyph::StepForward:
        p.drawPolygon(Triangle(6.5, 7, 8.5, 10, true));
        p.drawRect(QRectF(15.6, 7, 2.4, 10));
        break;
    case Glyph::SkipBegin:
        p.drawRect(QRectF(4.5, 7, 2.2, 10));
        p.drawPolygon(Triangle(7.2, 7, 6.2, 10, false));
        p.drawPolygon(Triangle(13.2, 7, 6.2, 10, false));
        break;
    case Glyph::SkipEnd:
        p.drawPolygon(Triangle(4.6, 7, 6.2, 10, true));
        p.drawPolygon(Triangle(10.6, 7, 6.2, 10, true));
        p.drawRect(QRectF(17.3, 7, 2.2, 10));
        break;
    case Glyph::PrevRecord:
        p.drawPolygon(Triangle(4.5, 7, 7, 10, false));
        p.drawPolygon(Triangle(11.5, 7, 7, 10, false));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.4));
        p.drawLine(QPointF(5, 19.5), QPointF(19, 19.5));
        break;
    case Glyph::NextRecord:
        p.drawPolygon(Triangle(5.5, 7, 7, 10, true));
        p.drawPolygon(Triangle(12.5, 7, 7, 10, true));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.4));
        p.drawLine(QPointF(5, 19.5), QPointF(19, 19.5));
        break;
    case Glyph::Calendar:
        p.setBrush(Qt::NoBrush);
        p.setPen(pen);
        p.drawRoundedRect(QRectF(5, 6.5, 14, 12.5), 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRect(QRectF(5, 6.5, 14, 3.5));
        p.drawRoundedRect(QRectF(7.6, 4.5, 1.8, 4), 0.8, 0.8);
        p.drawRoundedRect(QRectF(14.6, 4.5, 1.8, 4), 0.8, 0.8);
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c)
                p.drawRect(QRectF(7.5 + c * 3.4, 11.8 + r * 3.4, 2, 2));
        break;
    case Glyph::Gear: {
        QPainterPath gear;
        gear.setFillRule(Qt::OddEvenFill);
        const QPointF c(12, 12);
        QPolygonF outline;
        for (int i = 0; i < 32; ++i) {
            const double angle = i * 3.14159265358979 / 16;
            const double radius = (i / 2) % 2 == 0 ? 8.2 : 6.2;
            outline << c + QPointF(radius * std::cos(angle), radius * std::sin(angle));
        }
        gear.addPolygon(outline);
        gear.closeSubpath();
        gear.addEllipse(c, 2.8, 2.8);
        p.drawPath(gear);
        break;
    }
    case Glyph::Sliders:
        p.setPen(pen);
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(5, 7 + i * 5), QPointF(19, 7 + i * 5));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(9, 7), 2.4, 2.4);
        p.drawEllipse(QPointF(15, 12), 2.4, 2.4);
        p.drawEllipse(QPointF(11, 17), 2.4, 2.4);
        break;
    case Glyph::Folder: {
        QPainterPath folder;
        folder.moveTo(4, 7);
        folder.lineTo(10, 7);
        folder.lineTo(12, 9);
        folder.lineTo(20, 9);
        folder.lineTo(20, 18.5);
        folder.lineTo(4, 18.5);
        folder.closeSubpath();
        p.setBrush(Qt::NoBrush);
        p.setPen(pen);
        p.drawPath(folder);
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRect(QRectF(4, 11.5, 16, 7));
        break;
    }
    case Glyph::Camera:
        p.drawRoundedRect(QRectF(3.5, 8, 17, 11), 2, 2);
        p.drawRect(QRectF(8.5, 5.5, 7, 3));
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        p.drawEllipse(QPointF(12, 13.5), 3.8, 3.8);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.drawEllipse(QPointF(12, 13.5), 2.2, 2.2);
        break;
    case Glyph::Printer:
        p.setBrush(Qt::NoBrush);
        p.setPen(pen);
        p.drawRect(QRectF(7.5, 4.5, 9, 5));
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(3.5, 9.5, 17, 7.5), 1.5, 1.5);
        p.setBrush(Qt::NoBrush);
        p.setPen(pen);
        p.drawRect(QRectF(7.5, 14, 9, 6));
        p.drawLine(QPointF(9.5, 17), QPointF(14.5, 17));
        break;
    case Glyph::Film:
        p.drawRect(QRectF(4, 5, 16, 14));
        p.setCompositionMode(QPainter::CompositionMode_Clear);
        for (int i = 0; i < 4; ++i) {
            p.drawRect(QRectF(5.2, 6.2 + i * 3.3, 1.8, 1.8));
            p.drawRect(QRectF(17, 6.2 + i * 3.3, 1.8, 1.8));
        }
        p.drawRect(QRectF(8.5, 6.5, 7, 4.8));
        p.drawRect(QRectF(8.5, 12.7, 7, 4.8));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        break;
    case Glyph::Export: {
        p.setBrush(Qt::NoBrush);
        p.setPen(pen);
        QPainterPath tray;
        tray.moveTo(5, 13);
        tray.lineTo(5, 19);
        tray.lineTo(19, 19);
        tray.lineTo(19, 13);
        p.drawPath(tray);
        p.drawLine(QPointF(12, 15), QPointF(12, 5.5));
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPolygon(QPolygonF({QPointF(7.5, 9), QPointF(12, 3.8), QPointF(16.5, 9)}));
        break;
    }
    case Glyph::SpeakerMute:
    case Glyph::SpeakerLoud:
        p.drawPolygon(QPolygonF({QPointF(3.5, 9.5), QPointF(7.5, 9.5), QPointF(12.5, 5), QPointF(12.5, 19),
                                 QPointF(7.5, 14.5), QPointF(3.5, 14.5)}));
        p.setBrush(Qt::NoBrush);
        p.setPen(pen);
        if (glyph == Glyph::SpeakerMute) {
            p.drawLine(QPointF(15, 9), QPointF(21, 15));
            p.drawLine(QPointF(21, 9), QPointF(15, 15));
        } else {
            p.drawArc(QRectF(10, 8, 8, 8), -50 * 16, 100 * 16);
            p.drawArc(QRectF(8, 5, 14, 14), -50 * 16, 100 * 16);
        }
        break;
    case Glyph::Cross:
        p.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(7, 7), QPointF(17, 17));
        p.drawLine(QPointF(17, 7), QPointF(7, 17));
        break;
    case Glyph::Tiles:
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                p.drawRoundedRect(QRectF(4 + c * 8.5, 4 + r * 8.5, 7.5, 7.5), 1, 1);
        break;
    }
    p.restore();
}

// One state of a button: 0 normal, 1 pressed, 2 hover.
QImage DrawButton(int side, Glyph glyph, int state)
{
    QImage image = Blank(QSize(side, side));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor face = state == 1 ? kAccent.darker(130) : state == 2 ? kFaceHover : kFace;
    const QColor ring = state == 0 ? kLine : kAccentLight;
    p.setPen(QPen(ring, 1));
    p.setBrush(face);
    const double radius = std::max(3.0, side / 6.0);
    p.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), radius, radius);
    QColor ink = state == 0 ? kInk : Qt::white;
    if (glyph == Glyph::Play)
        ink = state == 1 ? Qt::white : kPlay;
    else if (glyph == Glyph::Pause)
        ink = state == 1 ? Qt::white : kPause;
    else if (glyph == Glyph::Cross)
        ink = state == 1 ? Qt::white : kDanger.lighter(120);
    // A pressed symbol sinks by a pixel.
    if (state == 1)
        p.translate(0.6, 0.6);
    const double inset = side * 0.08;
    p.translate(inset, inset);
    DrawGlyph(p, glyph, side - 2 * inset, ink);
    return image;
}

// A one-part image, each state in its own file "<name>_<state>.png".
bool SaveButton(const QString& dir, const Button& button)
{
    bool ok = true;
    const char* states[] = {"normal", "pressed", "hover"};
    for (int s = 0; s < 3; ++s)
        ok &= Save(DrawButton(button.side, button.glyph, s), dir + QString("%1_%2.png").arg(button.name, states[s]));
    return ok;
}

// Every skinned button of the window. The two calendar buttons and the two
// pairs of rewind buttons differ in size, so each button keeps a look of its
// own.
const Button kButtons[] = {
    {"BWD_btn", 30, Glyph::StepBack},
    {"Play_btn", 34, Glyph::Play},
    {"Pause_btn", 34, Glyph::Pause},
    {"FWD_btn", 30, Glyph::StepForward},
    {"Selected_rewind_left", 22, Glyph::SkipBegin},
    {"Selected_rewind_right", 22, Glyph::SkipEnd},
    {"United_rewind_left", 20, Glyph::SkipBegin},
    {"United_rewind_right", 20, Glyph::SkipEnd},
    {"holeBWD_btn", 24, Glyph::PrevRecord},
    {"holeFWD_btn", 24, Glyph::NextRecord},
    {"Calendar_btn", 28, Glyph::Calendar},
    {"Calendar", 22, Glyph::Calendar},
    {"Setting_btn", 30, Glyph::Gear},
    {"Browser_btn", 30, Glyph::Folder},
    {"Select_TimeLine", 30, Glyph::Film},
    {"Select_Export", 30, Glyph::Export},
    {"Setting_export_btn", 20, Glyph::Sliders},
    {"shot", 24, Glyph::Camera},
    {"print", 24, Glyph::Printer},
    {"QSlider/noSound", 22, Glyph::SpeakerMute},
    {"QSlider/maxSound", 22, Glyph::SpeakerLoud},
    {"RollBox_delete_process", 16, Glyph::Cross},
};

// A plain image, or the parts of a grid cut from one drawing: "left",
// "center", "right" (columns), "top", "center", "bottom" (rows), or the nine
// parts; `endW` and `endH` are the fixed ends.
enum class Layout { Single, Horizontal, Vertical, NinePart };

bool SaveParts(const QString& dir, const QString& name, const QImage& whole, Layout layout, int endW, int endH)
{
    const int w = whole.width();
    const int h = whole.height();
    const int cols[4] = {0, endW, w - endW, w};
    const int rows[4] = {0, endH, h - endH, h};
    const auto cut = [&](int c, int r) {
        return whole.copy(QRect(cols[c], rows[r], cols[c + 1] - cols[c], rows[r + 1] - rows[r]));
    };
    const auto part = [&](int c0, int c1, int r0, int r1) {
        return whole.copy(QRect(cols[c0], rows[r0], cols[c1] - cols[c0], rows[r1] - rows[r0]));
    };
    bool ok = true;
    switch (layout) {
    case Layout::Single:
        return Save(whole, dir + name + ".png");
    case Layout::Horizontal: {
        const char* names[] = {"left", "center", "right"};
        for (int c = 0; c < 3; ++c)
            ok &= Save(part(c, c + 1, 0, 3), dir + QString("%1_%2.png").arg(name, names[c]));
        return ok;
    }
    case Layout::Vertical: {
        const char* names[] = {"top", "center", "bottom"};
        for (int r = 0; r < 3; ++r)
            ok &= Save(part(0, 3, r, r + 1), dir + QString("%1_%2.png").arg(name, names[r]));
        return ok;
    }
    case Layout::NinePart: {
        const char* rowNames[] = {"top", "center", "bottom"};
        const char* columnNames[] = {"left", "center", "right"};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                ok &= Save(cut(c, r), dir + QString("%1_%2_%3.png").arg(name, rowNames[r], columnNames[c]));
        return ok;
    }
    }
    return false;
}

QImage RoundedFrame(QSize size, const QColor& fill, const QColor& border, double radius)
{
    QImage image = Blank(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(border.alpha() > 0 ? QPen(border, 1) : QPen(Qt::NoPen));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), radius, radius);
    return image;
}

// The combo box: a rounded field at the box's own size (185 x 30), with a
// drop arrow in its fixed right end (the text stops 15 px short of the
// right edge).
bool SaveComboBox(const QString& dir)
{
    bool ok = true;
    const char* states[] = {"normal", "pressed", "hover"};
    for (int s = 0; s < 3; ++s) {
        const QSize size(185, 30);
        QImage image = RoundedFrame(size, s == 1 ? kAccent.darker(160) : s == 2 ? kFaceHover : kFace,
                                    s == 0 ? kLine : kAccentLight, 4);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawPolygon(QPolygonF({QPointF(171, 12.5), QPointF(179, 12.5), QPointF(175, 17.5)}));
        p.end();
        // Left end 8, centre 151 (tiled when the box grows), right end 26.
        const QString name = QString("Combobox_%1").arg(states[s]);
        ok &= Save(image.copy(0, 0, 8, 30), dir + name + "_left.png");
        ok &= Save(image.copy(8, 0, 151, 30), dir + name + "_center.png");
        ok &= Save(image.copy(159, 0, 26, 30), dir + name + "_right.png");
    }
    return ok;
}

// The time input's arrow: a solid triangle pointing at the edit it serves,
// light blue while its input is the active one.
QImage ArrowImage(bool right, bool active)
{
    QImage image = Blank(QSize(20, 20));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(active ? kAccentLight : QColor(130, 136, 148));
    p.drawPolygon(Triangle(5, 3, 10, 14, right));
    return image;
}

// The application icon: a film frame with a play triangle.
QImage AppIcon(int side)
{
    QImage image = Blank(QSize(side, side));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(0, 0, side, side), side / 5.0, side / 5.0);
    p.setBrush(Qt::white);
    p.drawPolygon(Triangle(side * 0.36, side * 0.24, side * 0.38, side * 0.52, true));
    return image;
}

// The strip of a time line (or of the docked panels): a soft vertical shade.
QImage Strip(QSize size, const QColor& top, const QColor& bottom)
{
    QImage image = Blank(size);
    QPainter p(&image);
    QLinearGradient shade(0, 0, 0, size.height());
    shade.setColorAt(0, top);
    shade.setColorAt(1, bottom);
    p.fillRect(image.rect(), shade);
    return image;
}

bool DrawImages(const QString& dir)
{
    bool ok = true;
    for (const Button& button : kButtons)
        ok &= SaveButton(dir, button);
    ok &= SaveComboBox(dir);

    // The docked panels' strip (its height sets theirs) and its delimiter;
    // the time lines' images are flat, each part in a colour of its own, so
    // the strips read cleanly at any zoom.
    ok &= Save(Flat({16, 90}, QColor(40, 44, 52)), dir + "Selected_VideoTimeLineBack.png");
    ok &= Save(Flat({2, 90}, kLine), dir + "Selected_VideoTimeLineBack_Panel_Delimiter.png");
    ok &= Save(Flat({16, 40}, QColor(34, 38, 46)), dir + "United_VideoTimeLineBack.png");
    ok &= Save(Flat({2, 40}, kLine), dir + "United_VideoTimeLineBack_Panel_Delimiter.png");
    {
        QImage mark = Blank({120, 40});
        QPainter p(&mark);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(255, 255, 255, 70));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(18);
        font.setBold(true);
        p.setFont(font);
        p.drawText(mark.rect(), Qt::AlignCenter, QStringLiteral("Gavex"));
        p.end();
        ok &= Save(mark, dir + "Watermark.png");
    }
    ok &= Save(Flat({3, 64}, QColor(255, 196, 40)), dir + "Selected_VideoTimeLineCenterMarker.png");
    ok &= Save(Flat({3, 40}, QColor(255, 200, 0)), dir + "United_VideoTimeLineCenterMarker.png");
    ok &= Save(Flat({10, 64}, QColor(58, 62, 72)), dir + "Selected_Background_Left.png");
    ok &= Save(Flat({4, 64}, QColor(66, 70, 80)), dir + "Selected_Background_Center.png");
    ok &= Save(Flat({10, 64}, QColor(58, 62, 72)), dir + "Selected_Background_Right.png");
    ok &= Save(Flat({12, 64}, QColor(0, 0, 0, 90)), dir + "Selected_Shadow_Left.png");
    ok &= Save(Flat({12, 64}, QColor(0, 0, 0, 90)), dir + "Selected_Shadow_Right.png");
    ok &= Save(Flat({4, 8}, QColor(70, 180, 100)), dir + "Selected_archiveVideoTimeLine.png");
    // The united strip carries the time selector's light-blue text and the
    // white edge captions over its band: a deep green keeps them readable.
    ok &= Save(Flat({4, 12}, QColor(30, 92, 52)), dir + "United_archiveVideoTimeLine.png");
    // The gap images: the framed strip clips its ticks to their height; each
    // class has its own width, so the strip shows a gap's class.
    const struct {
        const char* name;
        int width;
        QColor colour;
    } holes[] = {{"sec", 6, QColor(150, 60, 60)},
                 {"min", 10, QColor(170, 80, 60)},
                 {"hour", 14, QColor(190, 100, 60)},
                 {"day", 20, QColor(210, 120, 60)}};
    for (const auto& hole : holes) {
        ok &= Save(Flat({hole.width, 56}, hole.colour), dir + QString("Selected_hole_%1.png").arg(hole.name));
        ok &= Save(Flat({hole.width, 12}, hole.colour.darker(170)), dir + QString("United_hole_%1.png").arg(hole.name));
    }
    // The time lines' tick marks and cut selection bar.
    for (const char* prefix : {"Selected", "United"}) {
        ok &= Save(Flat({1, 6}, QColor(190, 194, 202)), dir + QString("%1_riska_small.png").arg(prefix));
        ok &= Save(Flat({1, 10}, QColor(210, 214, 220)), dir + QString("%1_riska_medium.png").arg(prefix));
        ok &= Save(Flat({2, 18}, QColor(235, 236, 240)), dir + QString("%1_riska_big.png").arg(prefix));
        ok &= Save(Flat({4, 4}, kAccent), dir + QString("%1_select_bar_blue.png").arg(prefix));
    }
    // The calendar's tick marks.
    const struct {
        const char* name;
        QSize size;
    } ticks[] = {{"riska_small", {9, 16}}, {"riska_medium", {12, 24}}, {"riska_big", {15, 32}}};
    for (const auto& tick : ticks) {
        QImage image = Blank(tick.size);
        QPainter p(&image);
        p.fillRect(QRect(tick.size.width() / 2 - 1, 0, 2, tick.size.height()), QColor(210, 214, 220));
        p.end();
        ok &= SaveParts(dir, tick.name, image, Layout::Horizontal, tick.size.width() / 3, 0);
    }

    // The settings' layout icon: small enough to stand left of the combo
    // box's text (which starts 27 px in).
    {
        const char* states[] = {"normal", "pressed", "hover"};
        for (int s = 0; s < 3; ++s) {
            QImage icon = Blank({16, 16});
            QPainter p(&icon);
            p.setRenderHint(QPainter::Antialiasing);
            DrawGlyph(p, Glyph::Tiles, 16, s == 0 ? kInk : s == 1 ? kAccentLight : Qt::white);
            p.end();
            ok &= Save(icon, dir + QString("tilesSetupIco_%1.png").arg(states[s]));
        }
    }

    // The roll box of the export tasks: three rows of 20 px on a light drum
    // (its captions use the default dark pen), a band marking the middle row,
    // the task decorations.
    const QImage drum = RoundedFrame({60, 60}, QColor(214, 218, 226), QColor(150, 156, 168), 6);
    ok &= SaveParts(dir, "RollBox_back", drum, Layout::NinePart, 20, 20);
    // The same drum as one column of three rows.
    ok &= SaveParts(dir, "RollBox_back", drum, Layout::Vertical, 0, 20);
    ok &= SaveParts(dir, "RollBox_shadow", Strip({60, 60}, QColor(0, 0, 0, 40), QColor(0, 0, 0, 0)), Layout::NinePart,
                    20, 20);
    ok &= SaveParts(dir, "RollBox_marker", RoundedFrame({60, 22}, QColor(72, 140, 230, 70), kAccent, 3),
                    Layout::Horizontal, 8, 0);
    {
        QImage check = Blank({14, 14});
        QPainter p(&check);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(40, 150, 70), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2.5, 7.5), QPointF(5.5, 10.5), QPointF(11.5, 3.5)}));
        p.end();
        ok &= Save(check, dir + "RollBox_item_checked.png");
    }
    ok &= Save(Flat({8, 20}, QColor(72, 140, 230, 110)), dir + "RollBox_item_progress.png");

    // The time input panels' edit frames and the play panel's speed badge.
    ok &= SaveParts(dir, "TextArea", RoundedFrame({90, 22}, QColor(226, 229, 236), QColor(150, 156, 168), 3),
                    Layout::NinePart, 4, 4);
    ok &= SaveParts(dir, "TextArea_Focused", RoundedFrame({90, 22}, QColor(252, 252, 255), kAccent, 3),
                    Layout::NinePart, 4, 4);
    ok &= Save(Flat({34, 16}, QColor(30, 90, 160)), dir + "speed_background.png");

    // The scene background, the application icon and the time input's arrows.
    ok &= Save(Flat({64, 64}, QColor(20, 22, 26)), dir + "Back_main.png");
    for (int side : {16, 32, 48})
        ok &= Save(AppIcon(side), dir + QString("%1x%1.png").arg(side));
    for (bool right : {false, true})
        for (bool active : {true, false})
            ok &= Save(ArrowImage(right, active),
                       dir + QString("Arrow_%1_%2.png").arg(right ? "Right" : "Left", active ? "Active" : "Normal"));
    // The volume slider's width: narrow enough for the volume control to fit
    // the 120 px play panel beside its two buttons.
    ok &= Save(Strip({64, 20}, QColor(60, 150, 170), QColor(40, 110, 130)), dir + "QSlider/soundVolumeBar.png");
    return ok;
}

// The style sheets. Panels that slide over the video paint an opaque sheet
// of their own: nothing of the video shows through their gaps.
const struct {
    const char* file;
    const char* text;
} kStyleSheets[] = {
    {"ExportControlPanel.css",
     "QLabel { color: rgb(220, 224, 232); font-family: Verdana; font-size: 11px; }\n"
     "QPushButton { color: rgb(230, 232, 238); background: rgb(56, 62, 74); border: 1px solid rgb(78, 86, 100);"
     " border-radius: 3px; padding: 2px 6px; font-family: Verdana; font-size: 11px; }\n"
     "QPushButton:hover { background: rgb(74, 82, 98); border-color: rgb(140, 190, 255); }\n"
     "QPushButton:pressed { background: rgb(55, 108, 177); }\n"
     "QPushButton:disabled { color: rgb(120, 126, 136); border-color: rgb(64, 70, 82); }\n"
     "QPushButton#Cancel { min-width: 18px; max-width: 18px; min-height: 18px; max-height: 18px; padding: 0;"
     " color: white; background: rgb(190, 70, 60); font-weight: bold; }\n"
     "QPushButton#Cancel:disabled { background: rgb(90, 70, 70); }\n"
     "QCustomProgressBar { background: rgb(28, 31, 37); border: 1px solid rgb(78, 86, 100); }\n"
     "QCustomProgressBar > QFrame { background: rgb(72, 140, 230); }\n"},
    {"QSlider/QAudioSlider.css",
     "QSlider::groove:horizontal { height: 4px; background: rgb(28, 31, 37); border-radius: 2px; }\n"
     "QSlider::sub-page:horizontal { background: rgb(72, 140, 230); border-radius: 2px; }\n"
     "QSlider::handle:horizontal { width: 10px; margin: -4px 0; border-radius: 5px; background: rgb(226, 230, 238); }\n"
     "QSlider::handle:horizontal:hover { background: white; }\n"},
    // The sliding configuration panels: a dark opaque sheet under light text.
    {"SettingPanel.css",
     "QWidget { color: rgb(222, 225, 232); font-family: Verdana; font-size: 12px; }\n"
     "#ExportPanel, #navigationPanel, #ExportTaskSettingsPanel { background-color: rgb(36, 40, 48); }\n"
     "#navigationBottomPanel, #navigationTopPanel, #navigationOptionPanel { background-color: rgb(30, 33, 40); }\n"
     "QLabel#lblChooseDescribe { color: rgb(170, 176, 188); }\n"
     // The roll box turns on a light drum: its captions stay dark.
     "QRollBox { color: rgb(28, 31, 37); }\n"
     "QLineEdit { background-color: rgb(22, 24, 29); border: 1px solid rgb(78, 86, 100); border-radius: 3px;"
     " padding: 2px 4px; selection-background-color: rgb(72, 140, 230); }\n"
     "QLineEdit:focus { border-color: rgb(140, 190, 255); }\n"
     "QPushButton { background-color: rgb(56, 62, 74); border: 1px solid rgb(78, 86, 100); border-radius: 3px;"
     " padding: 4px 16px; }\n"
     "QPushButton:hover { background-color: rgb(74, 82, 98); border-color: rgb(140, 190, 255); }\n"
     "QPushButton:pressed, QPushButton:checked { background-color: rgb(55, 108, 177); }\n"
     "QPushButton:disabled { color: rgb(120, 126, 136); border-color: rgb(64, 70, 82); }\n"
     "QListView, QTreeView, QListWidget { background-color: rgb(26, 29, 35); border: 1px solid rgb(64, 70, 82);"
     " selection-background-color: rgb(72, 140, 230); }\n"
     "QGroupBox { border: 1px solid rgb(64, 70, 82); border-radius: 3px; margin-top: 8px; padding-top: 4px; }\n"
     "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 3px; }\n"
     "QCheckBox, QRadioButton { spacing: 6px; }\n"
     "QProgressBar { background-color: rgb(22, 24, 29); border: 1px solid rgb(78, 86, 100); text-align: center; }\n"
     "QProgressBar::chunk { background-color: rgb(72, 140, 230); }\n"
     "QTabBar::tab { background: rgb(44, 49, 58); padding: 5px 14px; border: 1px solid rgb(64, 70, 82); }\n"
     "QTabBar::tab:selected { background: rgb(72, 140, 230); color: white; }\n"
     "QTabWidget::pane { border: 1px solid rgb(64, 70, 82); background: rgb(36, 40, 48); }\n"
     "QScrollBar:vertical { background: rgb(30, 33, 40); width: 10px; }\n"
     "QScrollBar::handle:vertical { background: rgb(78, 86, 100); min-height: 20px; border-radius: 4px; }\n"
     "QScrollBar:horizontal { background: rgb(30, 33, 40); height: 10px; }\n"
     "QScrollBar::handle:horizontal { background: rgb(78, 86, 100); min-width: 20px; border-radius: 4px; }\n"},
    // The camera selector and the other skinned combo boxes: the box itself
    // is painted from the skin; the sheet sets the text and the list.
    {"CameraSelector.qss",
     "QComboBox { color: rgb(226, 230, 238); font-family: Verdana; font-size: 12px; background: rgb(56, 62, 74);"
     " border: 1px solid rgb(78, 86, 100); border-radius: 4px; padding: 2px 8px; }\n"
     "QComboBox:hover, QComboBox:focus { background: rgb(74, 82, 98); border-color: rgb(140, 190, 255); }\n"
     "QComboBox:disabled { color: rgb(120, 126, 136); background: rgb(44, 49, 58); border-color: rgb(64, 70, 82); }\n"
     "QComboBox::drop-down { border: none; width: 22px; }\n"
     "QComboBox::down-arrow { width: 0; height: 0; border-left: 4px solid transparent;"
     " border-right: 4px solid transparent; border-top: 5px solid rgb(226, 230, 238); }\n"
     "QComboBox::down-arrow:disabled { border-top-color: rgb(110, 116, 126); }\n"
     "QComboBox QAbstractItemView { background: rgb(36, 40, 48); color: rgb(226, 230, 238);"
     " border: 1px solid rgb(78, 86, 100); selection-background-color: rgb(72, 140, 230);"
     " selection-color: white; outline: 0; }\n"},
    // The source browser's channel list: icon view and list view.
    {"SettingPanel_VideoSequence_Icon.css",
     "QListWidget { background: rgb(26, 29, 35); color: rgb(222, 225, 232); font-family: Verdana; "
     "font-size: 8pt; }\n"
     "QListWidget::item { width: 160px; height: 200px; }\n"
     "QListWidget::item:selected { background: rgb(72, 140, 230); }\n"},
    {"SettingPanel_VideoSequence_List.css",
     "QListWidget { background: rgb(26, 29, 35); color: rgb(222, 225, 232); font-family: Verdana; "
     "font-size: 8pt; }\n"
     "QListWidget::item:selected { background: rgb(72, 140, 230); }\n"},
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
    ok &= DrawImages(dir);
    for (const auto& sheet : kStyleSheets)
        ok &= WriteText(dir + sheet.file, sheet.text);
    return ok ? 0 : 1;
}
