// QorBrastel: one handle on the codec add-on. It finds and loads the add-on's
// manager library (libHarnway.so), keeps the manager it hands out and one
// converter, and re-creates the converter when the wanted output changes.
//
// Where the library is looked for, in order (the first that loads wins):
//   1. the "Modules" folder of the add-on's registry keys
//      ("SOFTWARE\GavexSoft\Addons\Brastel1", then
//      "SOFTWARE\Video Management System\Addons\Brastel1");
//   2. the program's folder, then its "Modules" subfolder;
//   3. the program folder's parent, then its "Modules" subfolder;
//   4. the product's "InstallPath" followed by "Modules".
// Without a library or a manager the object lives on and every Convert gives
// null.
#pragma once

#include <memory>
#include <string>

#include "base/Locks.h"
#include "media/CSdkContract.h"

class QorBrastel
{
public:
    static constexpr const char* kLibraryName = "libHarnway.so";

    explicit QorBrastel(const std::string& preferredCodec);
    virtual ~QorBrastel();

    QorBrastel(const QorBrastel&) = delete;
    QorBrastel& operator=(const QorBrastel&) = delete;

    // Converts `input` (still the caller's) to `outputName` through the current
    // converter, made through `factory` (which must outlive the converter).
    // Returns a buffer the caller owns, or null. Never throws.
    MFF::IMultimediaBuffer* Convert(MFF::ICompressedBuffer* input, const char* outputName,
                                    MFF::IMultimediaFrameFactory* factory, int width);
    // Drops the converter's decoder state.
    void ResetConverter();
    // Destroys the converter; the next Convert makes a new one.
    void ReleaseConverter();

    bool HasManager() const { return m_manager != nullptr; }
    // Path of the loaded library; empty when none was loaded.
    const std::string& GetLibraryPath() const { return m_libraryPath; }
    const std::string& GetPreferredCodec() const { return m_preferredCodec; }

private:
    void LoadManagerLibrary();
    bool TryLoad(const std::string& folder);
    void CreateConverter(MFF::ICompressedBuffer* input, const char* outputName,
                         MFF::IMultimediaFrameFactory* factory);

    void* m_library = nullptr;
    std::string m_libraryPath;
    std::string m_outputName;
    std::shared_ptr<CSDK::IHarnway> m_manager;
    CSDK::IMediaConverter* m_converter = nullptr;
    qormisc::CriticalSection m_lock;
    std::string m_preferredCodec;
};
