#pragma once
// A push button drawn entirely from skin images, with a cross-fade between
// its normal, pressed and hover looks and an optional checked look.

#include <QPoint>
#include <QPushButton>

#include "widgets/MultiStateImage.h"

class IButton {
public:
    virtual ~IButton() = default;
    virtual void Enter() = 0;
    virtual void Leave() = 0;
    // Emits pressed() without changing the down state.
    virtual void Press() = 0;
};

class QCustomButton : public QPushButton, public IButton {
    Q_OBJECT

public:
    // name: skin image name; checkedName: the checked look's skin name, or
    // empty for a button that cannot be checked.
    QCustomButton(const QString& name, QWidget* parent = nullptr, const QString& checkedName = QString());

    void Enter() override;
    void Leave() override;
    void Press() override;

    // 0 normal, 1 pressed, 2 hover; disabled always shows normal.
    int VisualState() const;
    // 1.0 enabled, 0.3 disabled.
    double VisualOpacity() const;
    MultiStateImage& Image() { return image; }

signals:
    void Hovered();
    void Leaved();
    // Position minus the press position, on each move with the left button held.
    void Dragged(QPoint delta);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    MultiStateImage image;
    bool checkable;
    // (0, 0) stands for "not pressed".
    QPoint pressPos;
    bool hovered = false;
};
