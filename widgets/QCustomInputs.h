#pragma once
// A line edit and a list that take the keyboard focus on every mouse press
// (they sit in panels whose other controls never take it).

#include <QLineEdit>
#include <QListWidget>

class QCustomLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

class QCustomListWidget : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
