#pragma once
// Print preview of a still image (the current frame).

#include <QImage>
#include <QObject>

class QPrinter;
class QWidget;

class QCustomPrint : public QObject {
    Q_OBJECT

public:
    // parentWidget (not owned) parents the preview dialog.
    explicit QCustomPrint(QWidget* parentWidget, const QImage& image = QImage());

    // Runs the preview dialog modally; its print action prints.
    void Print(const QString& title, const QImage& image);

public slots:
    // Draws the image scaled to the page, aspect kept, at the top-left.
    void printPreview(QPrinter* printer);

private:
    QImage image;
    QWidget* parentWidget;
};
