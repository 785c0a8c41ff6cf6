#include "settingslib/Cantorel.h"

#include <algorithm>
#include <new>

namespace cantorel {

void CopyWide(WStringView text, char16_t* buffer, int max) {
    if (!buffer || max < 1) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(max) - 1);
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
}

CCantorel::CCantorel(const char16_t* startDir) : document_(new SettingsDocument(startDir)) {}

CCantorel::~CCantorel() { delete document_; }

uint32_t CCantorel::Load() { return document_->Load(); }

uint32_t CCantorel::Save() { return document_->Save(); }

char16_t* CCantorel::GetConfigDirectory(char16_t* buffer, int max) {
    if (!buffer) return nullptr;
    if (document_->EnsureConfigDirectory()) CopyWide(*document_->ConfigDirectory(), buffer, max);
    return buffer;
}

char16_t* CCantorel::GetValue(const char16_t* key, char16_t* buffer, int max) {
    if (!buffer) return nullptr;
    if (const WString* value = document_->GetValue(key)) CopyWide(*value, buffer, max);
    return buffer;
}

void CCantorel::SetValue(const char16_t* key, const char16_t* value) {
    document_->SetValue(key, value);
}

void CCantorelObject::Release() {
    // Only registered objects are handed out, so the lock is always known.
    std::lock_guard<std::mutex> guard(*lock_);
    if (--count_ == 0) {
        if (slot_ && *slot_ == this) *slot_ = nullptr;
        delete this;
    }
}

CCantorelObjectFactory::~CCantorelObjectFactory() { delete instance_; }

CCantorelObjectFactory& CCantorelObjectFactory::Instance() {
    static CCantorelObjectFactory factory;
    return factory;
}

uint32_t CCantorelObjectFactory::Acquire(ICantorel** out, const char16_t* startDir) {
    if (!out) return kResultBadArgument;
    *out = nullptr;
    std::lock_guard<std::mutex> guard(lock_);
    if (!instance_) {
        CCantorelObject* object = nullptr;
        try {
            object = new CCantorelObject(startDir);
        } catch (const std::bad_alloc&) {
            return kResultNoMemory;
        }
        const uint32_t loaded = object->Load();
        if (loaded != kResultOk) {
            delete object;
            return loaded;
        }
        instance_ = object;
        object->count_ = 1;  // the library's own reference
        object->slot_ = &instance_;
        object->lock_ = &lock_;
    }
    ++instance_->count_;
    *out = instance_;
    return kResultOk;
}

}  // namespace cantorel
