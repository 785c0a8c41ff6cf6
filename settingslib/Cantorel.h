#pragma once
// The shared settings object handed out by GetSettingsInstanceW/A.
//
// One object per process, created by the first successful request and kept
// in the factory's slot. The library holds one reference of its own that it
// never gives back, so callers that release exactly what they obtained keep
// the object (and its unsaved changes) alive for the next client.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "settingslib/Cantorel64.h"
#include "settingslib/SettingsDocument.h"

namespace cantorel {

class CCantorel : public ICantorel {
public:
    explicit CCantorel(const char16_t* startDir);
    ~CCantorel() override;
    CCantorel(const CCantorel&) = delete;
    CCantorel& operator=(const CCantorel&) = delete;

    uint32_t Load() override;
    uint32_t Save() override;
    char16_t* GetConfigDirectory(char16_t* buffer, int max) override;
    char16_t* GetValue(const char16_t* key, char16_t* buffer, int max) override;
    void SetValue(const char16_t* key, const char16_t* value) override;
    void Release() override {}

    SettingsDocument& Document() { return *document_; }

private:
    SettingsDocument* document_;
};

class CCantorelObject : public CCantorel {
public:
    using CCantorel::CCantorel;
    // Lowers the count under the factory's lock; at zero empties the slot and
    // destroys the object.
    void Release() override;
    int32_t ReferenceCount() const { return count_.load(); }

private:
    friend class CCantorelObjectFactory;
    CCantorelObject** slot_ = nullptr;
    std::mutex* lock_ = nullptr;
    std::atomic<int32_t> count_{0};
};

class CCantorelObjectFactory {
public:
    // Constructed on first use; thread-safe.
    static CCantorelObjectFactory& Instance();
    // Runs when the library is unloaded (or the process ends): the object
    // still in the slot cannot be reached any more, since its code goes too.
    virtual ~CCantorelObjectFactory();

    // Creates the object on the first successful call (loading its document
    // from `startDir`) and adds a reference for the caller. Later calls ignore
    // `startDir`. Returns 0, 514, 518 or 521; *out is null on failure.
    uint32_t Acquire(ICantorel** out, const char16_t* startDir);

private:
    CCantorelObjectFactory() = default;
    CCantorelObject* instance_ = nullptr;
    std::mutex lock_;
};

// Copies at most max - 1 characters and a terminator; nothing when max < 1.
void CopyWide(WStringView text, char16_t* buffer, int max);

}  // namespace cantorel
