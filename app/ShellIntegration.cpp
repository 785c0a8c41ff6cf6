#include "app/ShellIntegration.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

#include "config/ApplicationTexts.h"
#include "config/QLocalizer.h"
#include "base/ParentProcess.h"

namespace {

bool WriteTextFile(const QString& path, const QString& text)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

// A program path as one quoted argument of Exec: inside the quotes '"',
// '`', '$' and '\' take a backslash, '%' is doubled (a lone '%' starts a
// field code), and the whole value, being a desktop-entry string, escapes
// each backslash once more.
QString ExecQuoted(const QString& path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        else if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted.replace("\\", "\\\\");
}

}  // namespace

QString ShellCommand(const QString& programPath)
{
    // The field code stands unquoted: the launcher puts the chosen path in
    // as one argument of its own, and a quoted field code is not expanded
    // (or is handed over with the quotes).
    return QStringLiteral("\"%1\" --source %f").arg(ExecQuoted(programPath));
}

bool IntegrateWithShell(bool portable)
{
    const QString program = portable ? QString::fromUtf8(GetParentProcessPath().c_str())
                                     : QCoreApplication::applicationFilePath();
    if (program.isEmpty())
        return false;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString name = ApplicationDisplayName();

    QString desktop;
    QTextStream entry(&desktop);
    entry << "[Desktop Entry]\n"
          << "Type=Application\n"
          << "Name=" << QLocalizer::tr("Play with %1").arg(name) << "\n"
          << "Exec=" << ShellCommand(program) << "\n"
          << "MimeType=inode/directory;application/x-gavex-archive;\n"
          << "NoDisplay=true\n"
          << "Terminal=false\n";
    entry.flush();

    QString mime;
    QTextStream types(&mime);
    types << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          << "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
          << "  <mime-type type=\"application/x-gavex-archive\">\n"
          << "    <comment>" << QLocalizer::tr("%1 video file").arg(name).toHtmlEscaped() << "</comment>\n";
    for (int number = 1; number <= 99; ++number)
        types << "    <glob pattern=\"*._" << QString::number(number).rightJustified(2, '0') << "\"/>\n";
    types << "  </mime-type>\n"
          << "</mime-info>\n";
    types.flush();

    const bool desktopWritten = WriteTextFile(data + "/applications/gavexplayer-play-with.desktop", desktop);
    const bool mimeWritten = WriteTextFile(data + "/mime/packages/gavexplayer-archive.xml", mime);
    return desktopWritten && mimeWritten;
}
