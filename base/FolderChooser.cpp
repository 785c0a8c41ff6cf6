#include "base/FolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QString>

CFolderDialog::CFolderDialog(const char* title, const char* initialFolder, QWidget* owner,
                             bool newStyle)
    : m_owner(owner), m_newStyle(newStyle),
      m_strInitialFolder(initialFolder != nullptr ? initialFolder : ""),
      m_strTitle(title != nullptr ? title : "")
{
}

CFolderDialog::~CFolderDialog() = default;

int CFolderDialog::Browse()
{
    m_strSelectedPath = m_strInitialFolder;
    // Widgets need the application object; without one there is no dialog.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return IDCANCEL;
    QFileDialog::Options options = QFileDialog::ShowDirsOnly;
    if (m_newStyle)
        options |= QFileDialog::DontUseNativeDialog;
    const QString chosen = QFileDialog::getExistingDirectory(
        m_owner, QString::fromUtf8(m_strTitle.c_str()), QString::fromUtf8(m_strInitialFolder.c_str()),
        options);
    if (chosen.isEmpty())
        return IDCANCEL;
    m_strSelectedPath = chosen.toUtf8().toStdString();
    return IDOK;
}

std::string CFolderDialog::ShortenForStatus(const std::string& path)
{
    constexpr size_t kShown = 35;
    if (path.size() <= kShown)
        return path;
    return path.substr(0, kShown) + "...";
}
