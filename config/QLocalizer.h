#pragma once
// The translation context of the application's own texts and the loading of
// the translation files from the culture directory that the settings and
// culture library names.

#include <memory>
#include <string>

#include <QString>

class QTranslator;

class IQLocalizerPathResolver {
public:
    virtual ~IQLocalizerPathResolver() = default;
    // The folder of the current culture's translations; empty on failure.
    virtual QString GetPath() = 0;
};

// Asks libCantorel64 for the culture directory, starting at the
// executable's folder.
class QLocalizerPathResolver : public IQLocalizerPathResolver {
public:
    QString GetPath() override;
};

class QLocalizer {
public:
    static QLocalizer& Instance();

    // The text translated in the "QLocalizer" context.
    static QString tr(const char* text);

    void SetResolver(std::shared_ptr<IQLocalizerPathResolver> resolver);
    // Installs "Qt.qm", then "GavexPlayer.qm", from the resolver's folder;
    // a file that is missing leaves its translator uninstalled.
    void LoadTranslations();
    // True when the file was loaded and installed.
    bool InstallTranslator(QTranslator& translator, const QString& fileName);

private:
    std::shared_ptr<IQLocalizerPathResolver> m_resolver;
};

inline constexpr unsigned kCultureLibraryMissing = 520;
inline constexpr const char kCultureLibraryName[] = "libCantorel64.so";

// The first of startFolder and its three parents that holds the library
// (folder without trailing "/"); empty when none does. An empty start means
// the current folder.
std::string FindLibraryUpwards(const std::string& startFolder);
// Loads the library by name, else from the first folder FindLibraryUpwards
// finds from moduleFolder; null when neither works.
void* LoadSettingsLibrary(const std::string& moduleFolder);
// 0 with the culture directory in `directory`; 520 when the library or its
// export is missing; otherwise the library's own code. The library is freed
// before returning.
unsigned LoadCultureDirectory(const std::string& moduleFolder, std::u16string& directory);
