// Registry of the serialisable messaging and frame classes by name, and the
// reading and writing of objects "by class" (self-describing: a class tag,
// then the object's own Serialize bytes).
//
// The registry lives in this process only. The class tag below is this
// program's own; files written with it are read back by this program, and no
// compatibility with class tags written by other programs is claimed.
//
// Class tag (uint16 little-endian words, as platform::Archive writes them):
//   0x0000                     no object (null)
//   0xFFFF schema len name     a class not seen before in this archive:
//                              uint16 schema, uint16 name length, the name's
//                              bytes; an object of that class follows
//   0x8000 | i                 a class seen before (index i); an object follows
//   i (1 .. 0x7FFE)            the object with index i again (no bytes follow)
//   0x7FFF uint32 x            the two forms above for indices of 0x7FFF and
//                              more: bit 31 of x set for a class
// Classes and objects share one index sequence that starts at 1, in the order
// they first appear in the archive.
//
// On reading, an unknown class name is badClass; a stored schema other than
// the registered one is badSchema for classes that are not versionable, and is
// handed to Serialize (platform::Archive::GetObjectSchema) for versionable
// ones; an index that was not given out is badIndex.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class CNetObject;

namespace platform {
class Archive;
}

struct NetObjectClass {
    std::string name;
    std::string baseName;  // empty for the root class
    unsigned schema = 1;
    bool versionable = false;
    // A default object with one reference owned by the caller.
    CNetObject* (*create)() = nullptr;
};

class ClassRegistry
{
public:
    // Adds a class or replaces the one of the same name.
    static void Register(const NetObjectClass& cls);
    // A copy of the class; false when no class has the name.
    static bool Find(const std::string& name, NetObjectClass& cls);
    // A default object of the class (one reference, the caller's); null when
    // the class is unknown or has no creator.
    static CNetObject* CreateObject(const std::string& name);
    // Whether the object's class (GetClassName) is the named class or derives
    // from it through registered classes. False for null and for objects of
    // unregistered classes.
    static bool IsKindOf(const CNetObject* object, const std::string& className);
};

// Registers CNetObject, Msg, Event, React, VideoFrame, VideoFrameEx,
// AudioFrame and MsgFile. Called once by InitProcessValues; later calls do
// nothing.
void RegisterNetObjectClasses();

// Writes objects by class into a storing archive, or reads them back from a
// loading one. Keeps the class and object indices of one archive: use one
// ObjectArchive for the whole archive.
class ObjectArchive
{
public:
    explicit ObjectArchive(platform::Archive& archive);
    // Releases the references it keeps to the objects it read.
    ~ObjectArchive();
    ObjectArchive(const ObjectArchive&) = delete;
    ObjectArchive& operator=(const ObjectArchive&) = delete;

    // Writes the object with its class tag (or a reference when this object
    // was written before; null writes the null tag). The object's class must
    // be registered (badClass otherwise).
    void WriteObject(const CNetObject* object);

    // Reads one object. A new object, or the earlier one again, with one
    // reference added for the caller; null for the null tag. Throws
    // platform::ArchiveException (badClass, badSchema, badIndex, endOfFile)
    // and whatever the object's Serialize throws; nothing is leaked then.
    CNetObject* ReadObject();
    // The same, also requiring the object to be of the named class or one
    // derived from it (badClass otherwise).
    CNetObject* ReadObject(const std::string& requiredClass);

private:
    struct LoadedClass {
        std::string name;
        unsigned schema;
    };

    void WriteIndexTag(uint32_t index, bool isClass);
    uint32_t NextIndex();

    platform::Archive& m_archive;
    uint32_t m_nextIndex = 1;
    // Storing.
    std::map<std::string, uint32_t> m_storedClasses;
    std::map<const CNetObject*, uint32_t> m_storedObjects;
    // Loading: index -> class, index -> object (holding one reference, so
    // that a later reference to it stays valid).
    std::map<uint32_t, LoadedClass> m_loadedClasses;
    std::map<uint32_t, CNetObject*> m_loadedObjects;
};
