// Modal folder chooser behind the application's folder pickers, over Qt's
// directory dialog. Browse() runs on the GUI thread of a QApplication;
// one object serves one Browse() call.
#pragma once

#include <string>

class QWidget;

class CFolderDialog
{
public:
    enum Result
    {
        IDOK = 1,
        IDCANCEL = 2,
    };

    // title and initialFolder may be null. newStyle selects Qt's own dialog
    // (true) or the desktop's native one (false).
    CFolderDialog(const char* title, const char* initialFolder, QWidget* owner,
                  bool newStyle = true);
    virtual ~CFolderDialog();
    CFolderDialog(const CFolderDialog&) = delete;
    CFolderDialog& operator=(const CFolderDialog&) = delete;

    // IDOK with a chosen folder (then GetSelectedPath() gives it), IDCANCEL
    // otherwise (the selected path stays the initial folder). Without a
    // QApplication it shows nothing and gives IDCANCEL.
    virtual int Browse();

    std::string GetSelectedPath() const { return m_strSelectedPath; }
    std::string GetInitialFolder() const { return m_strInitialFolder; }
    std::string GetTitle() const { return m_strTitle; }

    // Status-line form of a path: longer than 35 characters becomes its first
    // 35 characters and "...".
    static std::string ShortenForStatus(const std::string& path);

private:
    QWidget* m_owner;
    bool m_newStyle;
    std::string m_strInitialFolder;
    std::string m_strSelectedPath;
    std::string m_strTitle;
};
