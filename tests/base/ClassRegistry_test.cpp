// Messaging and frame objects created by class name and read back by class
// from an archive.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/AudioFrame.h"
#include "base/ClassRegistry.h"
#include "base/Messages.h"
#include "base/VideoFrame.h"
#include "platform/Archive.h"
#include "platform/File.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string out;
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        out += cell;
        out += (i % 16 == 15) ? '\n' : ' ';
    }
    return out;
}

// Writes the objects by class into memory and returns the bytes.
std::vector<uint8_t> Store(const std::vector<const CNetObject*>& objects)
{
    platform::MemFile file;
    platform::Archive archive(file, platform::Archive::store);
    ObjectArchive objectArchive(archive);
    for (const CNetObject* object : objects)
        objectArchive.WriteObject(object);
    return file.TakeBytes();
}

// Holds a reference and releases it at the end of the scope.
struct Ref {
    CNetObject* object = nullptr;
    explicit Ref(CNetObject* o) : object(o) {}
    ~Ref()
    {
        if (object)
            object->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
};

// A versionable class of the test's own that remembers the schema its
// Serialize was given and stores one word.
class SchemaProbe : public CNetObject
{
public:
    const char* GetClassName() const override { return "SchemaProbe"; }
    unsigned GetSchema() const override { return 4; }
    void Serialize(platform::Archive& ar) override
    {
        seenSchema = ar.GetObjectSchema();
        if (ar.IsStoring())
            ar << word;
        else
            ar >> word;
    }
    unsigned seenSchema = 0;
    uint32_t word = 0;
};

class ClassRegistryTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        RegisterNetObjectClasses();
        RegisterNetObjectClasses(); // a second call changes nothing
        ClassRegistry::Register({"SchemaProbe", "CNetObject", 4, true, [] {
                                     return static_cast<CNetObject*>(new SchemaProbe);
                                 }});
    }
};

} // namespace

TEST_F(ClassRegistryTest, CreatesEveryClassByName)
{
    const struct {
        const char* name;
        const char* base;
        unsigned schema;
        bool versionable;
    } cases[] = {
        {"CNetObject", "", 1, false},       {"Msg", "CNetObject", 1, false},
        {"Event", "Msg", 1, false},         {"React", "Msg", 1, false},
        {"VideoFrame", "CNetObject", 2, true}, {"VideoFrameEx", "VideoFrame", 2, true},
        {"AudioFrame", "CNetObject", 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NetObjectClass cls;
        ASSERT_TRUE(ClassRegistry::Find(c.name, cls));
        EXPECT_EQ(cls.baseName, c.base);
        EXPECT_EQ(cls.schema, c.schema);
        EXPECT_EQ(cls.versionable, c.versionable);
        Ref object(ClassRegistry::CreateObject(c.name));
        ASSERT_NE(object.object, nullptr);
        EXPECT_STREQ(object.object->GetClassName(), c.name);
        EXPECT_EQ(object.object->GetSchema(), c.schema);
        EXPECT_EQ(object.object->GetRefCount(), 1);
    }
    EXPECT_EQ(ClassRegistry::CreateObject("MsgFileX"), nullptr);
    EXPECT_EQ(ClassRegistry::CreateObject(""), nullptr);
    EXPECT_EQ(ClassRegistry::CreateObject("msg"), nullptr); // names are exact
}

TEST_F(ClassRegistryTest, KindOfFollowsTheRegisteredBases)
{
    Ref event(ClassRegistry::CreateObject("Event"));
    Ref react(ClassRegistry::CreateObject("React"));
    Ref frameEx(ClassRegistry::CreateObject("VideoFrameEx"));
    Ref audio(ClassRegistry::CreateObject("AudioFrame"));
    EXPECT_TRUE(ClassRegistry::IsKindOf(event.object, "Msg"));
    EXPECT_TRUE(ClassRegistry::IsKindOf(react.object, "Msg"));
    EXPECT_TRUE(ClassRegistry::IsKindOf(react.object, "CNetObject"));
    EXPECT_FALSE(ClassRegistry::IsKindOf(react.object, "Event"));
    EXPECT_TRUE(ClassRegistry::IsKindOf(frameEx.object, "VideoFrame"));
    EXPECT_FALSE(ClassRegistry::IsKindOf(audio.object, "Msg"));
    EXPECT_FALSE(ClassRegistry::IsKindOf(nullptr, "CNetObject"));
}

// The class tag, pinned byte for byte: a new class, the same class again, a
// reference to an object written before, and no object.
TEST_F(ClassRegistryTest, ClassTagBytes)
{
    React first("CORE", "7", "DO");
    React second;
    const std::vector<uint8_t> bytes = Store({&first, &second, &first, nullptr});
    const std::vector<uint8_t> expected = {
        0xFF, 0xFF, 0x01, 0x00, 0x05, 0x00, 'R', 'e', 'a', 'c', 't', // new class (index 1), schema 1
        0x04, 'C', 'O', 'R', 'E', 0x01, '7', 0x02, 'D', 'O', 0x00, 0x00, // object 2
        0x01, 0x80,                    // class 1 again
        0x00, 0x00, 0x00, 0x00, 0x00,  // object 3: empty texts, no parameters
        0x02, 0x00,                    // object 2 again
        0x00, 0x00,                    // no object
    };
    EXPECT_EQ(bytes, expected) << "got:\n" << Hex(bytes) << "\nexpected:\n" << Hex(expected);
}

TEST_F(ClassRegistryTest, ObjectsComeBackByClass)
{
    Event event("CORE", 12, "ADD");
    event.SetParam("camera", 3);
    React react("SLAVE", "srv-1", "CONNECTED");

    VideoFrame frame;
    frame.m_strName = "slave";
    frame.m_nChan = 5;
    frame.m_nFormat = FrameFormatCompressed;
    frame.m_strSubtitles = "title";
    ASSERT_TRUE(frame.AllocData(6));
    std::memcpy(frame.m_pData, "\x01\x02\x03H264", 6);

    VideoFrameEx frameEx;
    frameEx.m_strText1 = "one";
    frameEx.m_strText2 = "two";
    frameEx.m_pBlock = new uint8_t[3]{9, 8, 7};
    frameEx.m_cbBlock = 3;

    AudioFrame audio;
    audio.m_nA = 11;
    audio.m_strText = "pcm";
    audio.AllocData(4)[3] = 0x44;

    const std::vector<uint8_t> bytes = Store({&event, &react, &frame, &frameEx, &audio, &event});
    platform::MemFile file{std::vector<uint8_t>(bytes)};
    platform::Archive archive(file, platform::Archive::load);
    ObjectArchive reader(archive);

    Ref e(reader.ReadObject("Msg"));
    Ref r(reader.ReadObject("Msg"));
    Ref f(reader.ReadObject("VideoFrame"));
    Ref fx(reader.ReadObject("VideoFrame"));
    Ref a(reader.ReadObject("AudioFrame"));
    Ref again(reader.ReadObject());
    EXPECT_EQ(archive.Remaining(), 0u);
    EXPECT_EQ(archive.GetObjectSchema(), platform::Archive::kNoSchema);

    auto* e2 = dynamic_cast<Event*>(e.object);
    ASSERT_NE(e2, nullptr);
    EXPECT_EQ(e2->FormatText(), event.FormatText());
    EXPECT_EQ(again.object, e.object); // the reference gives the same object
    EXPECT_EQ(e.object->GetRefCount(), 3); // two callers and the reader

    auto* r2 = dynamic_cast<React*>(r.object);
    ASSERT_NE(r2, nullptr);
    EXPECT_EQ(r2->FormatText(), "SLAVE|srv-1|CONNECTED|");

    auto* f2 = dynamic_cast<VideoFrame*>(f.object);
    ASSERT_NE(f2, nullptr);
    EXPECT_STREQ(f2->GetClassName(), "VideoFrame");
    EXPECT_EQ(f2->m_strName, "slave");
    EXPECT_EQ(f2->m_nChan, 5);
    ASSERT_EQ(f2->m_cbData, 6u);
    EXPECT_EQ(std::memcmp(f2->m_pData, frame.m_pData, 6), 0);
    EXPECT_EQ(f2->m_strSubtitles, "title"); // read because the stored schema is 2

    auto* fx2 = dynamic_cast<VideoFrameEx*>(fx.object);
    ASSERT_NE(fx2, nullptr);
    EXPECT_EQ(fx2->m_strText2, "two");
    ASSERT_EQ(fx2->m_cbBlock, 3u);
    EXPECT_EQ(fx2->m_pBlock[2], 7);

    auto* a2 = dynamic_cast<AudioFrame*>(a.object);
    ASSERT_NE(a2, nullptr);
    EXPECT_EQ(a2->m_nA, 11);
    EXPECT_EQ(a2->m_strText, "pcm");
    ASSERT_EQ(a2->m_cbData, 4u);
    EXPECT_EQ(a2->m_pData[3], 0x44);
}

TEST_F(ClassRegistryTest, VersionableClassesGetTheStoredSchema)
{
    // A video frame stored under schema 1 has no subtitle text.
    VideoFrame frame;
    frame.m_strName = "old";
    std::vector<uint8_t> bytes = Store({&frame});
    ASSERT_EQ(bytes[2], 0x02);
    bytes[2] = 0x01;
    ASSERT_EQ(bytes.back(), 0x00); // the empty subtitle text
    bytes.pop_back();
    {
        platform::MemFile file{std::vector<uint8_t>(bytes)};
        platform::Archive archive(file, platform::Archive::load);
        ObjectArchive reader(archive);
        Ref old(reader.ReadObject());
        ASSERT_NE(old.object, nullptr);
        EXPECT_EQ(static_cast<VideoFrame*>(old.object)->m_strName, "old");
        EXPECT_EQ(archive.Remaining(), 0u);
    }

    // Any stored schema reaches Serialize; a class reference carries the
    // schema of the class's first appearance.
    SchemaProbe probe;
    probe.word = 0xA1B2C3D4;
    SchemaProbe other;
    bytes = Store({&probe, &other});
    ASSERT_EQ(bytes[2], 0x04);
    bytes[2] = 0x09;
    platform::MemFile file{std::vector<uint8_t>(bytes)};
    platform::Archive archive(file, platform::Archive::load);
    ObjectArchive reader(archive);
    Ref first(reader.ReadObject());
    Ref second(reader.ReadObject());
    ASSERT_TRUE(first.object && second.object);
    EXPECT_EQ(static_cast<SchemaProbe*>(first.object)->seenSchema, 9u);
    EXPECT_EQ(static_cast<SchemaProbe*>(first.object)->word, 0xA1B2C3D4u);
    EXPECT_EQ(static_cast<SchemaProbe*>(second.object)->seenSchema, 9u);
    EXPECT_EQ(archive.GetObjectSchema(), platform::Archive::kNoSchema);
}

TEST_F(ClassRegistryTest, DamagedTagsAreArchiveErrors)
{
    React react("T", "I", "A");
    const std::vector<uint8_t> good = Store({&react});
    auto with = [&](size_t at, std::vector<uint8_t> replacement, size_t count) {
        std::vector<uint8_t> bytes = good;
        bytes.erase(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + count));
        bytes.insert(bytes.begin() + static_cast<long>(at), replacement.begin(), replacement.end());
        return bytes;
    };
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* required;
        int cause;
    } cases[] = {
        {"fixed schema differs", with(2, {0x02, 0x00}, 2), "", platform::ArchiveException::badSchema},
        {"unknown class", with(6, {'X'}, 1), "", platform::ArchiveException::badClass},
        {"object never read", {0x05, 0x00}, "", platform::ArchiveException::badIndex},
        {"class never read", {0x03, 0x80}, "", platform::ArchiveException::badIndex},
        {"long class reference", {0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}, "", platform::ArchiveException::badIndex},
        {"not the required class", good, "VideoFrame", platform::ArchiveException::badClass},
        {"cut in the class name", std::vector<uint8_t>(good.begin(), good.begin() + 8), "",
         platform::ArchiveException::endOfFile},
        {"cut in the object", std::vector<uint8_t>(good.begin(), good.end() - 1), "",
         platform::ArchiveException::endOfFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::MemFile file{std::vector<uint8_t>(c.bytes)};
        platform::Archive archive(file, platform::Archive::load);
        ObjectArchive reader(archive);
        try {
            Ref object(*c.required ? reader.ReadObject(c.required) : reader.ReadObject());
            ADD_FAILURE() << "no error";
        } catch (const platform::ArchiveException& e) {
            EXPECT_EQ(e.m_cause, c.cause) << e.what();
        }
        EXPECT_EQ(archive.GetObjectSchema(), platform::Archive::kNoSchema);
    }

    // Objects of unregistered classes cannot be written by class.
    class Unregistered : public CNetObject
    {
    public:
        const char* GetClassName() const override { return "Unregistered"; }
    } unregistered;
    platform::MemFile file;
    platform::Archive archive(file, platform::Archive::store);
    ObjectArchive writer(archive);
    EXPECT_THROW(writer.WriteObject(&unregistered), platform::ArchiveException);
    EXPECT_THROW(writer.ReadObject(), platform::ArchiveException);
}

TEST_F(ClassRegistryTest, LongIndicesUseTheLongTag)
{
    // Indices up to 0x7FFE fit the short tag; references to later objects
    // need the long form.
    std::vector<Msg> messages(0x7FFE);
    std::vector<const CNetObject*> objects;
    for (const Msg& m : messages)
        objects.push_back(&m);
    Msg last;
    last.SetType("last");
    objects.push_back(&last);
    objects.push_back(&last);
    objects.push_back(&messages[3]);
    const std::vector<uint8_t> bytes = Store(objects);
    // Class 1, messages are objects 2 .. 0x7FFF, `last` is object 0x8000.
    const std::vector<uint8_t> tail(bytes.end() - 19, bytes.end());
    const std::vector<uint8_t> expected = {
        0x01, 0x80, 0x04, 'l', 'a', 's', 't', 0x00, 0x00, 0x00, 0x00, // class 1, new object
        0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00,                           // object 0x8000 again
        0x05, 0x00,                                                   // object 5 again
    };
    EXPECT_EQ(tail, expected) << "got:\n" << Hex(tail) << "\nexpected:\n" << Hex(expected);
    platform::MemFile file{std::vector<uint8_t>(bytes)};
    platform::Archive archive(file, platform::Archive::load);
    ObjectArchive reader(archive);
    std::vector<CNetObject*> read;
    for (size_t i = 0; i < objects.size(); ++i)
        read.push_back(reader.ReadObject("Msg"));
    EXPECT_EQ(archive.Remaining(), 0u);
    EXPECT_EQ(static_cast<Msg*>(read[0x7FFE])->GetType(), "last");
    EXPECT_EQ(read[0x7FFF], read[0x7FFE]);
    EXPECT_EQ(read[0x8000], read[3]);
    for (CNetObject* object : read)
        object->Release();
}
