#include "widgets/MultiStateImage.h"

#include <QPainter>
#include <QtMath>

MultiStateImage::MultiStateImage(const QString& name, QObject* parent)
    : QObject(parent), animation(this, "opacity")
{
    animation.setDuration(400);
    animation.setEasingCurve(QEasingCurve::OutCubic);
    AddSet(name);
}

void MultiStateImage::AddSet(const QString& name)
{
    ImageSet set;
    set[0].Load(QString("%1_%2").arg(name, SkinPart::Normal));
    set[1].Load(QString("%1_%2").arg(name, SkinPart::Pressed));
    set[2].Load(QString("%1_%2").arg(name, SkinPart::Hover));
    sets.push_back(std::move(set));
}

void MultiStateImage::SetOpacity(double value)
{
    if (value == opacity)
        return;
    opacity = value;
    emit OnUpdate();
}

void MultiStateImage::SetState(int state, double newOpacity, bool animate)
{
    if (state == currentState && newOpacity == targetOpacity)
        return;
    previousState = currentState;
    currentState = state;
    previousOpacity = targetOpacity;
    targetOpacity = newOpacity;
    animation.stop();
    if (animate) {
        animation.setStartValue(1.0 - opacity);
        animation.setEndValue(1.0);
        animation.start();
    } else {
        SetOpacity(1.0);
    }
    emit OnUpdate();
}

void MultiStateImage::SetCurrentSet(int index)
{
    if (index == currentSet)
        return;
    currentSet = index;
    emit OnUpdate();
}

void MultiStateImage::RenderInto(QImage& buffer, const QSize& size, const SkinImageGrid& grid, double alpha)
{
    if (buffer.size() != size)
        buffer = QImage(size, QImage::Format_ARGB32_Premultiplied);
    buffer.fill(Qt::transparent);
    QPainter painter(&buffer);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setOpacity(alpha);
    grid.Paint(painter, QRectF(0, 0, size.width(), size.height()));
}

void MultiStateImage::Paint(QPainter& painter, const QRectF& rect)
{
    if (currentSet < 0 || currentSet >= static_cast<int>(sets.size()))
        return;
    const ImageSet& set = sets[currentSet];
    auto grid = [&set](int state) -> const SkinImageGrid* {
        return state >= 0 && state < static_cast<int>(set.size()) ? &set[state] : nullptr;
    };
    const double t = opacity;
    const double c = (1 - t) * previousOpacity + t * targetOpacity;
    const bool fadingOut = previousState != -1 && (1 - t) * c != 0 && previousState != currentState;
    const double d = fadingOut ? c * t : c;
    const bool visible = currentState != -1 && d != 0;
    const bool full = qFuzzyCompare(c, 1.0);

    const SkinImageGrid* current = grid(currentState);
    const SkinImageGrid* previous = grid(previousState);
    if (!fadingOut && full) {
        if (current)
            current->Paint(painter, rect);
        return;
    }
    if (fadingOut && full && !visible) {
        if (previous)
            previous->Paint(painter, rect);
        return;
    }
    const QSize size = rect.size().toSize();
    if (size.isEmpty())
        return;
    static const SkinImageGrid empty;
    if (fadingOut) {
        RenderInto(backBuffer, size, previous ? *previous : empty, (1 - t) * c);
        if (visible) {
            RenderInto(frontBuffer, size, current ? *current : empty, d);
            QPainter back(&backBuffer);
            back.setCompositionMode(QPainter::CompositionMode_Plus);
            back.drawImage(0, 0, frontBuffer);
        }
    } else {
        RenderInto(backBuffer, size, current ? *current : empty, d);
    }
    painter.drawImage(rect.topLeft(), backBuffer);
}
