#include "base/ClassRegistry.h"

#include <mutex>

#include "base/AudioFrame.h"
#include "base/ClassRegistryMsgFile.h"
#include "base/Messages.h"
#include "base/NetObject.h"
#include "base/VideoFrame.h"
#include "platform/Archive.h"

namespace {

constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000u;
// Indices of 0x7FFF and more need the long form.
constexpr uint32_t kMaxSmallIndex = 0x7FFE;
// A class inheriting from itself through a damaged table must not loop.
constexpr int kMaxDepth = 64;

struct Registry {
    std::mutex lock;
    std::map<std::string, NetObjectClass> classes;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

template <typename T>
CNetObject* CreateDefault()
{
    return new T();
}

std::string FileNameOf(const platform::Archive& archive)
{
    return archive.GetFile().GetFilePath();
}

[[noreturn]] void Throw(const platform::Archive& archive, int cause)
{
    throw platform::ArchiveException(cause, FileNameOf(archive));
}

// Resets the archive's object schema however Serialize ends.
class ObjectSchemaScope
{
public:
    ObjectSchemaScope(platform::Archive& archive, unsigned schema) : m_archive(archive)
    {
        m_archive.SetObjectSchema(schema);
    }
    ~ObjectSchemaScope() { m_archive.SetObjectSchema(platform::Archive::kNoSchema); }
    ObjectSchemaScope(const ObjectSchemaScope&) = delete;
    ObjectSchemaScope& operator=(const ObjectSchemaScope&) = delete;

private:
    platform::Archive& m_archive;
};

} // namespace

void ClassRegistry::Register(const NetObjectClass& cls)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.classes[cls.name] = cls;
}

bool ClassRegistry::Find(const std::string& name, NetObjectClass& cls)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto it = registry.classes.find(name);
    if (it == registry.classes.end())
        return false;
    cls = it->second;
    return true;
}

CNetObject* ClassRegistry::CreateObject(const std::string& name)
{
    NetObjectClass cls;
    if (!Find(name, cls) || !cls.create)
        return nullptr;
    return cls.create();
}

bool ClassRegistry::IsKindOf(const CNetObject* object, const std::string& className)
{
    if (!object)
        return false;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    std::string name = object->GetClassName();
    for (int depth = 0; depth < kMaxDepth && !name.empty(); ++depth) {
        auto it = registry.classes.find(name);
        if (it == registry.classes.end())
            return false;
        if (name == className)
            return true;
        name = it->second.baseName;
    }
    return false;
}

void RegisterNetObjectClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const NetObjectClass classes[] = {
            {"CNetObject", "", 1, false, &CreateDefault<CNetObject>},
            {"Msg", "CNetObject", 1, false, &CreateDefault<Msg>},
            {"Event", "Msg", 1, false, &CreateDefault<Event>},
            {"React", "Msg", 1, false, &CreateDefault<React>},
            {"VideoFrame", "CNetObject", VideoFrame::kSchema, true, &CreateDefault<VideoFrame>},
            {"VideoFrameEx", "VideoFrame", VideoFrame::kSchema, true, &CreateDefault<VideoFrameEx>},
            {"AudioFrame", "CNetObject", AudioFrame::kSchema, true, &CreateDefault<AudioFrame>},
            {"MsgFile", "CNetObject", MsgFile::kSchema, true, &CreateDefault<MsgFile>},
        };
        for (const NetObjectClass& cls : classes)
            ClassRegistry::Register(cls);
    });
}

ObjectArchive::ObjectArchive(platform::Archive& archive) : m_archive(archive) {}

ObjectArchive::~ObjectArchive()
{
    for (auto& entry : m_loadedObjects)
        entry.second->Release();
}

uint32_t ObjectArchive::NextIndex()
{
    if (m_nextIndex == kBigClassTag - 1)
        Throw(m_archive, platform::ArchiveException::bufferFull);
    return m_nextIndex++;
}

void ObjectArchive::WriteIndexTag(uint32_t index, bool isClass)
{
    if (index <= kMaxSmallIndex) {
        m_archive << static_cast<uint16_t>(isClass ? (kClassTag | index) : index);
    } else {
        m_archive << kBigObjectTag << static_cast<uint32_t>(isClass ? (kBigClassTag | index) : index);
    }
}

void ObjectArchive::WriteObject(const CNetObject* object)
{
    if (!m_archive.IsStoring())
        Throw(m_archive, platform::ArchiveException::readOnly);
    if (!object) {
        m_archive << kNullTag;
        return;
    }
    auto seen = m_storedObjects.find(object);
    if (seen != m_storedObjects.end()) {
        WriteIndexTag(seen->second, false);
        return;
    }
    const std::string name = object->GetClassName();
    NetObjectClass cls;
    if (!ClassRegistry::Find(name, cls) || name.size() > 0xFFFF)
        Throw(m_archive, platform::ArchiveException::badClass);

    auto known = m_storedClasses.find(name);
    if (known != m_storedClasses.end()) {
        WriteIndexTag(known->second, true);
    } else {
        m_archive << kNewClassTag << static_cast<uint16_t>(object->GetSchema())
                  << static_cast<uint16_t>(name.size());
        m_archive.Write(name.data(), name.size());
        m_storedClasses[name] = NextIndex();
    }
    m_storedObjects[object] = NextIndex();
    // Serialize is not const in the object family; storing does not change
    // the object.
    const_cast<CNetObject*>(object)->Serialize(m_archive);
}

CNetObject* ObjectArchive::ReadObject()
{
    if (!m_archive.IsLoading())
        Throw(m_archive, platform::ArchiveException::writeOnly);
    uint16_t tag = 0;
    m_archive >> tag;
    if (tag == kNullTag)
        return nullptr;

    LoadedClass cls;
    if (tag == kNewClassTag) {
        uint16_t schema = 0;
        uint16_t length = 0;
        m_archive >> schema >> length;
        std::string name(length, '\0');
        m_archive.Read(name.data(), length);
        cls = {name, schema};
        m_loadedClasses[NextIndex()] = cls;
    } else {
        uint32_t index = tag;
        bool isClass = false;
        if (tag == kBigObjectTag) {
            m_archive >> index;
            isClass = (index & kBigClassTag) != 0;
            index &= ~kBigClassTag;
        } else if (tag & kClassTag) {
            isClass = true;
            index = tag & ~kClassTag;
        }
        if (!isClass) {
            auto object = m_loadedObjects.find(index);
            if (object == m_loadedObjects.end())
                Throw(m_archive, platform::ArchiveException::badIndex);
            return object->second->AddRef();
        }
        auto known = m_loadedClasses.find(index);
        if (known == m_loadedClasses.end())
            Throw(m_archive, platform::ArchiveException::badIndex);
        cls = known->second;
    }

    NetObjectClass registered;
    if (!ClassRegistry::Find(cls.name, registered) || !registered.create)
        Throw(m_archive, platform::ArchiveException::badClass);
    if (cls.schema != registered.schema && !registered.versionable)
        Throw(m_archive, platform::ArchiveException::badSchema);

    CNetObject* object = registered.create();
    const uint32_t index = NextIndex();
    try {
        ObjectSchemaScope scope(m_archive, cls.schema);
        object->Serialize(m_archive);
    } catch (...) {
        object->Release();
        throw;
    }
    // One reference stays with this archive for later back-references; the
    // creator's is handed to the caller.
    m_loadedObjects[index] = object->AddRef();
    return object;
}

CNetObject* ObjectArchive::ReadObject(const std::string& requiredClass)
{
    CNetObject* object = ReadObject();
    if (object && !ClassRegistry::IsKindOf(object, requiredClass)) {
        object->Release();
        Throw(m_archive, platform::ArchiveException::badClass);
    }
    return object;
}
