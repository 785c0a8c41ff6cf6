#include "config/QLocalizer.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <filesystem>

#include <QCoreApplication>
#include <QTranslator>

QLocalizer& QLocalizer::Instance()
{
    static QLocalizer localizer;
    return localizer;
}

QString QLocalizer::tr(const char* text)
{
    return QCoreApplication::translate("QLocalizer", text);
}

void QLocalizer::SetResolver(std::shared_ptr<IQLocalizerPathResolver> resolver)
{
    m_resolver = std::move(resolver);
}

bool QLocalizer::InstallTranslator(QTranslator& translator, const QString& fileName)
{
    if (!m_resolver)
        return false;
    const QString folder = m_resolver->GetPath();
    if (folder.isEmpty())
        return false;
    if (!translator.load(fileName, folder))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

void QLocalizer::LoadTranslations()
{
    static QTranslator qtTranslator;
    static QTranslator programTranslator;
    InstallTranslator(qtTranslator, QStringLiteral("Qt.qm"));
    InstallTranslator(programTranslator, QStringLiteral("GavexPlayer.qm"));
}

namespace {

std::string ExecutableFolder()
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string();
}

}  // namespace

QString QLocalizerPathResolver::GetPath()
{
    std::u16string directory;
    if (LoadCultureDirectory(ExecutableFolder(), directory) != 0)
        return {};
    return QString::fromUtf16(directory.data(), static_cast<int>(directory.size()));
}

std::string FindLibraryUpwards(const std::string& startFolder)
{
    std::string current = startFolder;
    if (current.empty()) {
        std::error_code error;
        current = std::filesystem::current_path(error).string();
    }
    for (int round = 0; round < 4; ++round) {
        if (!current.empty()) {
            std::error_code error;
            if (std::filesystem::exists(std::filesystem::path(current) / kCultureLibraryName, error))
                return current;
        }
        if (current.size() > 1 && current.back() == '/')
            current.pop_back();
        const size_t slash = current.find_last_of('/');
        if (slash == std::string::npos)
            current.clear();
        else
            current = slash == 0 ? "/" : current.substr(0, slash);
    }
    return {};
}

void* LoadSettingsLibrary(const std::string& moduleFolder)
{
    if (void* library = ::dlopen(kCultureLibraryName, RTLD_NOW | RTLD_LOCAL))
        return library;
    const std::string folder = FindLibraryUpwards(moduleFolder);
    if (folder.empty())
        return nullptr;
    return ::dlopen((std::filesystem::path(folder) / kCultureLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

unsigned LoadCultureDirectory(const std::string& moduleFolder, std::u16string& directory)
{
    directory.clear();
    void* library = LoadSettingsLibrary(moduleFolder);
    if (library == nullptr)
        return kCultureLibraryMissing;
    using GetCultureDirectory = uint32_t (*)(char16_t*, int, const char16_t*);
    auto function = reinterpret_cast<GetCultureDirectory>(::dlsym(library, "GetCultureDirectoryW"));
    unsigned result = kCultureLibraryMissing;
    if (function != nullptr) {
        std::array<char16_t, 260> buffer{};
        const std::u16string start = QString::fromStdString(moduleFolder).toStdU16String();
        result = function(buffer.data(), static_cast<int>(buffer.size()), start.c_str());
        if (result == 0)
            directory.assign(buffer.data());
    }
    ::dlclose(library);
    return result;
}
