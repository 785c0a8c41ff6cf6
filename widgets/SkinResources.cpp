#include "widgets/SkinResources.h"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cmath>

QImage LoadImageResource(const QString& root, const QString& name)
{
    return QImage(ImageResourcePath(root, name));
}

QImage LoadSkinImage(const QString& name)
{
    return LoadImageResource(ApplicationDirectory(), name);
}

QImage LoadSkinImagePart(const QString& name, const QString& part)
{
    return LoadSkinImage(QString("%1_%2").arg(name).arg(part));
}

bool SkinImagePartExists(const QString& name, const QString& part)
{
    return QFile::exists(ImageResourcePath(ApplicationDirectory(), QString("%1_%2").arg(name).arg(part)));
}

QIcon LoadApplicationIcon(const QString& root)
{
    QIcon icon;
    for (const char* file : {"16x16.png", "32x32.png", "48x48.png"})
        icon.addFile(ResourcePath(root, file), QSize(), QIcon::Normal, QIcon::Off);
    return icon;
}

void ApplyStyleSheet(const QString& root, QWidget* widget, const QString& fileName)
{
    QFile file(ResourcePath(root, fileName));
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    const QString text = QString::fromUtf8(file.readAll());
    widget->setAttribute(Qt::WA_NoSystemBackground);
    widget->setStyleSheet(text);
}

bool RegisterSkinFonts(const QString& root)
{
    const int id = QFontDatabase::addApplicationFont(ResourcePath(root, "DejaVuSans.ttf"));
    if (id < 0)
        return false;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty())
        return false;
    QFont::insertSubstitution("Verdana", families.first());
    return true;
}

void SkinImageGrid::Load(const QString& name)
{
    const QImage single = LoadSkinImage(name);
    if (!single.isNull())
        SetParts({single}, 1);
    else if (SkinImagePartExists(name, SkinPart::Left))
        LoadHorizontal(name);
    else if (SkinImagePartExists(name, SkinPart::Top))
        LoadVertical(name);
    else
        LoadNinePart(name);
    if (IsNull()) {
        images.clear();
        columns.clear();
        rows.clear();
    }
}

void SkinImageGrid::LoadHorizontal(const QString& name)
{
    if (name.isEmpty())
        return;
    SetParts({LoadSkinImagePart(name, SkinPart::Left), LoadSkinImagePart(name, SkinPart::Center),
              LoadSkinImagePart(name, SkinPart::Right)},
             3);
}

void SkinImageGrid::LoadVertical(const QString& name)
{
    if (name.isEmpty())
        return;
    SetParts({LoadSkinImagePart(name, SkinPart::Top), LoadSkinImagePart(name, SkinPart::Center),
              LoadSkinImagePart(name, SkinPart::Bottom)},
             1);
}

void SkinImageGrid::LoadNinePart(const QString& name)
{
    if (name.isEmpty())
        return;
    QList<QImage> parts;
    for (const char* row : {SkinPart::Top, SkinPart::Center, SkinPart::Bottom})
        for (const char* column : {SkinPart::Left, SkinPart::Center, SkinPart::Right})
            parts.append(LoadSkinImagePart(name, QString(row) + SkinPart::Joiner + column));
    SetParts(parts, 3);
}

void SkinImageGrid::SetParts(const QList<QImage>& parts, int columnCount)
{
    images.clear();
    columns.clear();
    rows.clear();
    if (columnCount <= 0)
        return;
    const int rowCount = static_cast<int>(std::ceil(static_cast<double>(parts.count()) / columnCount));
    for (int index = 0; index < columnCount * rowCount; ++index)
        images.append(index < parts.count() ? parts[index] : QImage());
    MeasureSegments(0, columnCount);
    MeasureSegments(1, rowCount);
}

void SkinImageGrid::MeasureSegments(int direction, int count)
{
    // SetParts measures the columns first, so the row pass knows their count.
    const int columnCount = direction == 0 ? count : static_cast<int>(columns.count());
    if (count <= 0 || columnCount <= 0)
        return;
    const int across = direction == 0 ? static_cast<int>(images.count()) / columnCount : columnCount;
    auto& target = direction == 0 ? columns : rows;
    for (int i = 0; i < count; ++i) {
        Segment segment;
        segment.stretch = i > 0 && i < count - 1;
        for (int j = 0; j < across; ++j) {
            const int index = direction == 0 ? j * columnCount + i : i * columnCount + j;
            if (index >= images.count())
                continue;
            const QImage& image = images[index];
            segment.length = std::max<double>(segment.length, direction == 0 ? image.width() : image.height());
        }
        target.append(segment);
    }
}

bool SkinImageGrid::IsNull() const
{
    return std::all_of(images.begin(), images.end(), [](const QImage& image) { return image.isNull(); });
}

QSize SkinImageGrid::Size() const
{
    return QSize(static_cast<int>(FixedLength(0, true)), static_cast<int>(FixedLength(1, true)));
}

double SkinImageGrid::FixedLength(int direction, bool includeStretch) const
{
    double sum = 0;
    for (const Segment& segment : Segments(direction))
        if (includeStretch || !segment.stretch)
            sum += segment.length;
    return sum;
}

int SkinImageGrid::StretchCount(int direction) const
{
    const auto& segments = Segments(direction);
    return static_cast<int>(std::count_if(segments.begin(), segments.end(), [](const Segment& s) { return s.stretch; }));
}

double SkinImageGrid::StretchLength(double total, int direction) const
{
    const int count = StretchCount(direction);
    if (count == 0)
        return 0;
    const double length = (total - FixedLength(direction, false)) / count;
    return length < 0 ? 0 : length;
}

void SkinImageGrid::Paint(QPainter& painter, const QRectF& rect) const
{
    double y = rect.top();
    for (int r = 0; r < rows.count(); ++r) {
        const double rowHeight = rows[r].stretch ? StretchLength(rect.height(), 1) : rows[r].length;
        double x = rect.left();
        for (int c = 0; c < columns.count(); ++c) {
            const double columnWidth = columns[c].stretch ? StretchLength(rect.width(), 0) : columns[c].length;
            const QRectF cell(x, y, columnWidth, rowHeight);
            const QImage& image = images[c + r * columns.count()];
            if (rows[r].stretch || columns[c].stretch) {
                // A missing stretching part stays empty (a null texture
                // would not be transparent).
                if (image.isNull()) {
                    x += columnWidth;
                    continue;
                }
                painter.setRenderHint(QPainter::Antialiasing, false);
                painter.setBrush(QBrush(image));
                painter.setPen(Qt::NoPen);
                painter.setBrushOrigin(cell.topLeft());
                painter.drawRect(cell);
            } else if (!image.isNull()) {
                painter.drawImage(cell.topLeft(), image);
            }
            x += columnWidth;
        }
        y += rowHeight;
    }
}

void SkinStateImages::LoadFromName(const QString& name)
{
    if (name.isEmpty())
        return;
    normal.Load(QString("%1_%2").arg(name, SkinPart::Normal));
    pressed.Load(QString("%1_%2").arg(name, SkinPart::Pressed));
    hover.Load(QString("%1_%2").arg(name, SkinPart::Hover));
    mask.Load(QString("%1_%2").arg(name, SkinPart::Mask));
}
