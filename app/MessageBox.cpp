#include "app/MessageBox.h"

#include <cstdio>

#include <QGuiApplication>

#include "config/ApplicationTexts.h"

bool RunsWithoutDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void ShowMessageBox(QMessageBox::Icon icon, const QString& text)
{
    if (RunsWithoutDisplay()) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    QMessageBox box(icon, ApplicationDisplayName(), text, QMessageBox::NoButton, nullptr,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.exec();
}
