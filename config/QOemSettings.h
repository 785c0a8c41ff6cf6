#pragma once
// The optional OEM file "oem.properties.xml" beside the executable.

#include <QString>

class QXmlStreamReader;

class QOemSettings {
public:
    static QOemSettings& Instance();

    // Offer every kind of video source (not only exported files).
    bool ShowAllVideoSource = false;
    QString FilePath;  // <application folder>/oem.properties.xml

    QOemSettings();
    // Reads the file; a file that cannot be opened or parsed is logged.
    void Load();
    // Every ShowAllVideoSource element, at any depth, sets the flag from its
    // integer text (text that is no number counts as 0).
    void Parse(QXmlStreamReader& reader);
};
