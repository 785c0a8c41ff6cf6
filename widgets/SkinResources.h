#pragma once
// Loading skin files from the Resources folder, and the stretchable images
// skinned widgets draw. A missing file is never an error: it gives a null
// image, an empty grid or no style sheet, and the widget draws nothing for it.

#include <QIcon>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include "config/ResourcePaths.h"

class QPainter;
class QWidget;

// Part names of skin images ("%1_%2": name, underscore, part).
namespace SkinPart {
inline constexpr const char* Normal = "normal";
inline constexpr const char* Pressed = "pressed";
inline constexpr const char* Hover = "hover";
inline constexpr const char* Mask = "mask";
inline constexpr const char* Left = "left";
inline constexpr const char* Center = "center";
inline constexpr const char* Right = "right";
inline constexpr const char* Top = "top";
inline constexpr const char* Bottom = "bottom";
// Joins a nine-part row and column ("top" "_" "left").
inline constexpr const char* Joiner = "_";
}  // namespace SkinPart

QImage LoadImageResource(const QString& root, const QString& name);
QImage LoadSkinImage(const QString& name);
QImage LoadSkinImagePart(const QString& name, const QString& part);
bool SkinImagePartExists(const QString& name, const QString& part);
// The three icon sizes, added whether or not their files exist.
QIcon LoadApplicationIcon(const QString& root);
// Sets the file's text as the widget's style sheet (and drops the system
// background); leaves the widget untouched when the file does not exist.
void ApplyStyleSheet(const QString& root, QWidget* widget, const QString& fileName);
// Registers the shipped DejaVu Sans from the resources and maps the skin's
// "Verdana" to it, so text measures the same on every machine. False when
// the font file is missing (text then uses whatever Qt picks).
bool RegisterSkinFonts(const QString& root);

// An image of one, three or nine parts; the first and last segment of each
// direction keep their natural length, the segments between them stretch
// and are tiled, never scaled.
class SkinImageGrid {
public:
    struct Segment {
        double length = 0;
        bool stretch = false;
        bool operator==(const Segment&) const = default;
    };

    QList<QImage> images;  // row-major; a missing part is a null image
    QList<Segment> columns;
    QList<Segment> rows;

    void Load(const QString& name);
    void LoadHorizontal(const QString& name);
    void LoadVertical(const QString& name);
    void LoadNinePart(const QString& name);
    void SetParts(const QList<QImage>& parts, int columnCount);
    // direction 0 = columns, 1 = rows.
    void MeasureSegments(int direction, int count);

    bool IsNull() const;
    QSize Size() const;
    double FixedLength(int direction, bool includeStretch) const;
    int StretchCount(int direction) const;
    double StretchLength(double total, int direction) const;
    // Changes the painter's state without restoring it.
    void Paint(QPainter& painter, const QRectF& rect) const;

private:
    const QList<Segment>& Segments(int direction) const { return direction == 0 ? columns : rows; }
};

// The four looks of a control: normal, pressed, hover and its shape mask.
class SkinStateImages {
public:
    SkinImageGrid normal;
    SkinImageGrid pressed;
    SkinImageGrid hover;
    SkinImageGrid mask;

    void LoadFromName(const QString& name);
};
