#include "base/NetObject.h"

void CNetObject::Serialize(platform::Archive&) {}

CNetObject* CNetObject::AddRef() {
    m_refCount.fetch_add(1, std::memory_order_relaxed);
    return this;
}

bool CNetObject::Release() {
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
        return true;
    }
    return false;
}
