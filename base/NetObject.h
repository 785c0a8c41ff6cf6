// Base class of the reference-counted, serialisable messaging and frame
// objects (messages, video and audio frames).
//
// Ownership: a new object starts with one reference, owned by its creator.
// AddRef adds one; Release drops one and deletes the object when none is
// left. The count changes only atomically, so an object may be released on
// any thread. boost::intrusive_ptr<T> works on every subclass.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {
class Archive;
}

class CNetObject {
public:
    CNetObject() = default;
    // A copy is a new object: it starts with its own single reference.
    CNetObject(const CNetObject& other) : m_tag(other.m_tag) {}
    // Assignment copies the contents, never the reference count.
    CNetObject& operator=(const CNetObject& other) {
        m_tag = other.m_tag;
        return *this;
    }
    virtual ~CNetObject() = default;

    // Class name and schema with which the object travels when written by
    // class ("CNetObject", 1).
    virtual const char* GetClassName() const { return "CNetObject"; }
    virtual unsigned GetSchema() const { return 1; }

    // Writes or reads the object (by the archive's direction). Nothing for
    // the base class.
    virtual void Serialize(platform::Archive& archive);

    // Returns this object.
    virtual CNetObject* AddRef();
    // Returns true when this call destroyed the object.
    virtual bool Release();
    virtual bool CheckValid() { return true; }
    virtual void SetTag(uint64_t tag) { m_tag = tag; }

    int32_t GetRefCount() const { return m_refCount.load(std::memory_order_acquire); }

protected:
    uint64_t m_tag = 0;

private:
    std::atomic<int32_t> m_refCount{1};
};

inline void intrusive_ptr_add_ref(CNetObject* object) { object->AddRef(); }
inline void intrusive_ptr_release(CNetObject* object) { object->Release(); }
