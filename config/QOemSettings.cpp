#include "config/QOemSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QXmlStreamReader>

#include "base/Log.h"

QOemSettings& QOemSettings::Instance()
{
    static QOemSettings settings;
    return settings;
}

QOemSettings::QOemSettings()
{
    const QString folder =
        QCoreApplication::instance() != nullptr ? QCoreApplication::applicationDirPath() : QString();
    FilePath = folder + "/" + "oem.properties.xml";
}

void QOemSettings::Load()
{
    QFile file(FilePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "oem.properties.xml file opening error");
        return;
    }
    QXmlStreamReader reader(&file);
    Parse(reader);
    file.close();
}

void QOemSettings::Parse(QXmlStreamReader& reader)
{
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("ShowAllVideoSource")) {
            bool ok = false;
            const int value = reader.readElementText().trimmed().toInt(&ok);
            ShowAllVideoSource = ok && value != 0;
        }
    }
    if (reader.hasError())
        QOR_LOG_ERROR(getDefaultDebugInstance(), "%s", reader.errorString().toLocal8Bit().constData());
}
