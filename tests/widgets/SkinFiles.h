#pragma once
// Writes tiny skin images into the Resources folder beside the test program
// and removes them again. Names carry the running test's name, because the
// test cases run as parallel processes over the same folder.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>

#include <gtest/gtest.h>

#include "config/ResourcePaths.h"

class SkinFiles {
public:
    SkinFiles()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefix = QString("%1_%2_").arg(info->test_suite_name(), info->name()).replace('/', '_');
        QDir().mkpath(ResourcesDirectory(ApplicationDirectory()));
    }
    ~SkinFiles()
    {
        for (const QString& path : written)
            QFile::remove(path);
    }
    SkinFiles(const SkinFiles&) = delete;
    SkinFiles& operator=(const SkinFiles&) = delete;

    // The skin name to use for `name` in this test.
    QString Name(const QString& name) const { return prefix + name; }

    // Writes Name(file) + ".png" in one colour.
    void Write(const QString& file, QSize size, QColor colour)
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(colour);
        WriteImage(file, image);
    }
    void WriteImage(const QString& file, const QImage& image)
    {
        const QString path = ImageResourcePath(ApplicationDirectory(), Name(file));
        ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
        written << path;
    }
    // A file written under its own name (fixed names such as the panel's).
    void WriteFixed(const QString& fileName, QSize size, QColor colour)
    {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(colour);
        const QString path = ResourcePath(ApplicationDirectory(), fileName);
        ASSERT_TRUE(image.save(path, "PNG")) << path.toStdString();
        written << path;
    }

private:
    QString prefix;
    QStringList written;
};
