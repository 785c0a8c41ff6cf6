#include "media/QorBrastel.h"

#include <dlfcn.h>

#include <cerrno>
#include <exception>

#include "base/Log.h"
#include "base/ModuleDir.h"
#include "base/Registry.h"
#include "base/QorLogger.h"

namespace {

// Registry keys of the add-on, in the order they are read.
constexpr const char* kAddonKeys[] = {
    "SOFTWARE\\GavexSoft\\Addons\\Brastel1",
    "SOFTWARE\\Video Management System\\Addons\\Brastel1",
};
constexpr size_t kMaxRegistryText = 10240;

QorLog::CDebug* Logger()
{
    return getDefaultDebugInstance();
}

// The add-on's module folder from the first key that names one, without
// trailing separators; empty when no key does.
std::string ReadAddonModulesFolder()
{
    for (const char* path : kAddonKeys) {
        RegistryKey key(path, false, RegistryKey::kRead | RegistryKey::kWow64_64Key);
        if (!key.IsOpen())
            continue;
        std::string folder = key.ReadString("Modules", "", kMaxRegistryText);
        while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
            folder.pop_back();
        if (!folder.empty())
            return folder;
    }
    return {};
}

// The folder part of `path`: everything before its last separator, or the
// path itself when it has none.
std::string CutAtLastSeparator(const std::string& path)
{
    const size_t cut = path.find_last_of("/:");
    return cut == std::string::npos ? path : path.substr(0, cut);
}

std::string SafeText(const char* text)
{
    return text ? text : "";
}

} // namespace

QorBrastel::QorBrastel(const std::string& preferredCodec) : m_preferredCodec(preferredCodec)
{
    LoadManagerLibrary();
}

QorBrastel::~QorBrastel()
{
    {
        SyncLock lock(m_lock);
        if (m_converter) {
            m_converter->Release();
            m_converter = nullptr;
        }
    }
    // The manager's control block lives in the library: drop it first.
    m_manager.reset();
    if (m_library)
        dlclose(m_library);
}

bool QorBrastel::TryLoad(const std::string& folder)
{
    const std::string path = folder + kLibraryName;
    m_libraryPath = path;
    dlerror();
    // The library stays mapped after its last handle is closed: pictures it
    // handed out by reference live on in frames and are destroyed by its code.
    m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_library) {
        const char* why = dlerror();
        Logger()->Trace("[BRASTEL] %s", why ? why : path.c_str());
    }
    return m_library != nullptr;
}

void QorBrastel::LoadManagerLibrary()
{
    QorLog::CDebug* log = Logger();
    std::string folder;
    bool inAddonFolder = false;

    // An unset module folder is not tried: it would name the file-system root.
    const std::string addonFolder = ReadAddonModulesFolder();
    if (!addonFolder.empty()) {
        folder = addonFolder + "/";
        inAddonFolder = TryLoad(folder);
    }

    std::string programFolder = misc_GetModuleDir();
    for (int up = 0; up < 2 && !m_library; ++up) {
        if (up == 1) {
            const std::string parent = CutAtLastSeparator(programFolder);
            if (parent == programFolder)
                break;
            programFolder = parent;
        }
        folder = programFolder + "/";
        if (TryLoad(folder))
            break;
        folder = programFolder + "/Modules/";
        if (!TryLoad(folder))
            log->Trace("Error (%d) while loading Brastel manager library %s.", errno,
                       m_libraryPath.c_str());
    }

    if (!m_library) {
        RegistryKey root(QorLog::kProductRootKey, true, RegistryKey::kFullAccess);
        const std::string installPath = root.ReadString("InstallPath", "", kMaxRegistryText);
        if (installPath.empty()) {
            log->Trace("Error (%d) while reading InstallPath %s.", root.GetOpenResult(),
                       QorLog::kProductRootKey);
        } else {
            folder = installPath + "Modules/";
            if (!TryLoad(folder))
                log->Trace("Error (%d) while loading Brastel manager library %s.", errno,
                           m_libraryPath.c_str());
        }
    }

    if (!m_library) {
        QOR_LOG_ERROR(log, "Couldn't load Brastel manager library %s", m_libraryPath.c_str());
        m_libraryPath.clear();
        return;
    }
    log->Trace("Loaded Brastel manager library %s.", m_libraryPath.c_str());

    const char* folderArg = inAddonFolder ? nullptr : folder.c_str();
    std::shared_ptr<CSDK::IHarnway> manager;
    try {
        if (auto entrySL = reinterpret_cast<CSDK::GetHarnwaySLFn>(
                dlsym(m_library, CSDK::kGetHarnwaySLName))) {
            entrySL(&manager, folderArg, &CQorLogger::Instance());
        } else {
            QOR_LOG_ERROR(log, "Couldn't get address of GetHarnwaySL");
            auto entryS =
                reinterpret_cast<CSDK::GetHarnwaySFn>(dlsym(m_library, CSDK::kGetHarnwaySName));
            if (!entryS) {
                QOR_LOG_ERROR(log, "Couldn't get address of GetHarnwayS");
                return;
            }
            entryS(&manager, folderArg);
        }
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(log, "Brastel manager library %s failed: %s", m_libraryPath.c_str(),
                      e.what());
        manager.reset();
    }
    m_manager = std::move(manager);
}

void QorBrastel::CreateConverter(MFF::ICompressedBuffer* input, const char* outputName,
                                 MFF::IMultimediaFrameFactory* factory)
{
    QorLog::CDebug* log = Logger();
    CSDK::IMediaConverter* converter = nullptr;
    try {
        if (auto* manager2 = static_cast<CSDK::IHarnway2*>(
                m_manager->QueryContract(CSDK::kHarnway2Contract))) {
            if (!m_preferredCodec.empty())
                log->Trace("Trying to use codec: %s", m_preferredCodec.c_str());
            converter = manager2->CreateConverter(outputName, factory, m_preferredCodec.c_str());
        } else {
            converter = m_manager->CreateConverter(outputName, factory);
        }
    } catch (const std::exception& e) {
        log->Trace("Brastel Exception while decoding %s -> %s: %s", SafeText(input->GetFormat()).c_str(),
                   outputName, e.what());
        converter = nullptr;
    }
    m_converter = converter;
    const auto converterId = unsigned(reinterpret_cast<uintptr_t>(converter));
    const auto factoryId = unsigned(reinterpret_cast<uintptr_t>(factory));
    if (converter)
        log->Trace("Created media converter %s -> %s (0x%08X - 0x%08X)",
                   SafeText(input->GetFormat()).c_str(), outputName, converterId, factoryId);
    else
        log->Trace("Failed to create media converter %s -> %s (0x%08X - 0x%08X)",
                   SafeText(input->GetFormat()).c_str(), outputName, 0u, factoryId);
    m_outputName = outputName;
}

MFF::IMultimediaBuffer* QorBrastel::Convert(MFF::ICompressedBuffer* input, const char* outputName,
                                            MFF::IMultimediaFrameFactory* factory, int width)
{
    if (!input || !outputName || !factory)
        return nullptr;
    SyncLock lock(m_lock);
    if (!m_manager)
        return nullptr;
    QorLog::CDebug* log = Logger();
    const std::string inputName = SafeText(input->GetFormat());

    if (m_converter && m_outputName != outputName)
        ReleaseConverter();
    bool created = false;
    if (!m_converter) {
        CreateConverter(input, outputName, factory);
        created = true;
        if (!m_converter)
            return nullptr;
    }

    try {
        if (!m_preferredCodec.empty()) {
            auto* converter2 = dynamic_cast<CSDK::IMediaConverter2*>(m_converter);
            if (converter2 && !converter2->IsSupported(input, width)) {
                log->Warning("Stream is not supported by preferred codec %s. Codec will be set to default.",
                             m_preferredCodec.c_str());
                ReleaseConverter();
                m_preferredCodec.clear();
                CreateConverter(input, outputName, factory);
                created = true;
            }
        }
    } catch (const std::exception& e) {
        log->Trace("Brastel Exception while decoding %s -> %s: %s", inputName.c_str(), outputName,
                   e.what());
    }
    if (!m_converter)
        return nullptr;

    MFF::IMultimediaBuffer* result = nullptr;
    try {
        result = m_converter->Convert(input, width);
    } catch (const std::exception& e) {
        QOR_LOG_ERROR(log, "Brastel Exception while decoding %s -> %s: %s", inputName.c_str(),
                      outputName, e.what());
        // A converter that failed half-way may hold half-built state: the next
        // frame gets a fresh one.
        ReleaseConverter();
        return nullptr;
    } catch (...) {
        QOR_LOG_ERROR(log, "Brastel Exception while decoding %s -> %s: %s", inputName.c_str(),
                      outputName, "unknown exception");
        ReleaseConverter();
        return nullptr;
    }

    if (created && result) {
        if (auto* planar = static_cast<MFF::IPlanarBuffer*>(result->QueryContract("MFF::IPlanarBuffer")))
            log->Message("[BRASTEL][INIT][PLANAR] Created decompressor from %s to %s. Resolution: %d x %d",
                         inputName.c_str(), outputName, planar->GetWidth(), planar->GetHeight());
        else if (auto* composite =
                     static_cast<MFF::ICompositeBuffer*>(result->QueryContract("MFF::ICompositeBuffer")))
            log->Message("[BRASTEL][INIT][COMPOSITE] Created decompressor from %s to %s. Resolution: %d x %d",
                         inputName.c_str(), outputName, composite->GetValue1(), composite->GetValue2());
    }
    return result;
}

void QorBrastel::ResetConverter()
{
    SyncLock lock(m_lock);
    if (m_converter)
        m_converter->Reset();
}

void QorBrastel::ReleaseConverter()
{
    SyncLock lock(m_lock);
    if (m_converter) {
        m_converter->Release();
        m_converter = nullptr;
    }
}
