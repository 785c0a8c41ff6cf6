#pragma once
// The state images of a skinned control and the cross-fade between states.

#include <QImage>
#include <QObject>
#include <QPropertyAnimation>

#include <array>
#include <vector>

#include "widgets/SkinResources.h"

class MultiStateImage : public QObject {
    Q_OBJECT
    Q_PROPERTY(double opacity READ Opacity WRITE SetOpacity)

public:
    // Grids of one look, indexed by state: 0 normal, 1 pressed, 2 hover.
    using ImageSet = std::array<SkinImageGrid, 3>;

    explicit MultiStateImage(const QString& name, QObject* parent = nullptr);

    void AddSet(const QString& name);
    // opacity is the overall opacity of the new state; with animate the
    // change fades in over 400 ms, continuing a reversed fade from the
    // blend on screen.
    void SetState(int state, double opacity, bool animate);
    void SetCurrentSet(int index);
    void Paint(QPainter& painter, const QRectF& rect);

    double Opacity() const { return opacity; }
    void SetOpacity(double value);
    int CurrentState() const { return currentState; }
    int CurrentSet() const { return currentSet; }
    const std::vector<ImageSet>& Sets() const { return sets; }
    QPropertyAnimation& Animation() { return animation; }

signals:
    void OnUpdate();

private:
    void RenderInto(QImage& buffer, const QSize& size, const SkinImageGrid& grid, double opacity);

    std::vector<ImageSet> sets;
    double opacity = 1.0;
    QPropertyAnimation animation;
    QImage backBuffer;
    QImage frontBuffer;
    int currentState = 0;
    int previousState = -1;
    int currentSet = 0;
    double targetOpacity = 1.0;
    double previousOpacity = 1.0;
};
