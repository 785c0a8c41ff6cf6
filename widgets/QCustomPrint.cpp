#include "widgets/QCustomPrint.h"

#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>

QCustomPrint::QCustomPrint(QWidget* parentWidget, const QImage& image) : image(image), parentWidget(parentWidget) {}

void QCustomPrint::Print(const QString& title, const QImage& printed)
{
    image = printed;
    QPrinter printer(QPrinter::HighResolution);
    QPrintPreviewDialog dialog(&printer, parentWidget);
    dialog.setWindowFlags(dialog.windowFlags() | Qt::WindowMaximizeButtonHint);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, &QCustomPrint::printPreview);
    dialog.setWindowTitle(title);
    dialog.exec();
}

void QCustomPrint::printPreview(QPrinter* printer)
{
    QPainter painter(printer);
    const QRect r = painter.viewport();
    const QImage scaled = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(r.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(r.topLeft(), scaled);
    painter.end();
}
