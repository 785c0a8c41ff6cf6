// Messaging and frame objects created by class name and read back by class
// from an archive.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ByteDump.h"
#include "support/TempDir.h"

#include "base/AudioFrame.h"
#include "base/ClassRegistry.h"
#include "base/ClassRegistryMsgFile.h"
#include "base/Log.h"
#include "base/ModuleDir.h"
#include "base/Messages.h"
#include "base/VideoFrame.h"
#include "platform/Archive.h"
#include "platform/File.h"

namespace {

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
    EXPECT_BYTES(expected, bytes);
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
    EXPECT_BYTES(expected, tail);
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

// Random damage to a stream of objects: every read either succeeds or ends
// in an archive error; nothing else escapes and nothing is leaked (the
// sanitizer builds check the latter).
TEST_F(ClassRegistryTest, RandomlyDamagedStreamsFailCleanly)
{
    Event event("CORE", 3, "ADD");
    event.SetParam("camera", 7);
    React react("SLAVE", "id", "CONNECTED");
    VideoFrame frame;
    frame.m_strName = "cam";
    frame.m_nFormat = FrameFormatCompressed;
    ASSERT_TRUE(frame.AllocData(40));
    std::memset(frame.m_pData, 0x5A, 40);
    VideoFrameEx frameEx;
    frameEx.m_strText1 = "t";
    AudioFrame audio;
    audio.AllocData(16);
    const std::vector<uint8_t> good =
        Store({&event, &react, &frame, &frameEx, &audio, &frame, nullptr, &event});

    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int failures = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int flips = 1 + static_cast<int>(next() % 3);
        for (int i = 0; i < flips; ++i)
            bytes[next() % bytes.size()] ^= static_cast<uint8_t>(1 + next() % 255);
        if (next() % 4 == 0)
            bytes.resize(next() % bytes.size());
        platform::MemFile file{std::vector<uint8_t>(bytes)};
        platform::Archive archive(file, platform::Archive::load);
        ObjectArchive reader(archive);
        try {
            for (int i = 0; i < 8; ++i)
                Ref object(reader.ReadObject());
        } catch (const platform::ArchiveException&) {
            ++failures;
        }
        EXPECT_EQ(archive.GetObjectSchema(), platform::Archive::kNoSchema);
    }
    EXPECT_GT(failures, 0);
}

// ---- file messages ---------------------------------------------------------------

namespace {

namespace fs = std::filesystem;

// A scratch folder, a registry store of its own and a private logger whose
// error lines are caught.
class MsgFileTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RegisterNetObjectClasses(); }

    void SetUp() override
    {
        m_dir = m_temp.path();
        fs::create_directories(m_dir + "/reg");
        setenv("GAVEX_REGISTRY_DIR", (m_dir + "/reg").c_str(), 1);
        QorLog::DebugSettings settings{0, 100, 0, 0x10, 2, 8192, 4096};
        m_log = std::make_unique<QorLog::CDebug>(m_dir, "SOFTWARE\\MsgFileTest", "", &settings);
        m_log->SetDebugOutputForTesting([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_linesLock);
            m_lines += line;
        });
    }

    void TearDown() override
    {
        m_log.reset();
        unsetenv("GAVEX_REGISTRY_DIR");
    }

    std::string TakeLog()
    {
        std::lock_guard<std::mutex> lock(m_linesLock);
        std::string text;
        text.swap(m_lines);
        return text;
    }

    static void WriteSource(const std::string& path, const std::string& contents)
    {
        gavex_test::WriteFileString(path, contents);
    }

    // Stores the message by class and reads it back; the read copy.
    std::vector<uint8_t> StoreMsgFile(MsgFile& msg)
    {
        msg.SetLogger(m_log.get());
        return Store({&msg});
    }
    MsgFile* Load(const std::vector<uint8_t>& bytes, platform::Archive** archiveOut = nullptr)
    {
        m_file = std::make_unique<platform::MemFile>(std::vector<uint8_t>(bytes));
        m_archive = std::make_unique<platform::Archive>(*m_file, platform::Archive::load);
        m_reader = std::make_unique<ObjectArchive>(*m_archive);
        if (archiveOut)
            *archiveOut = m_archive.get();
        // Objects made by the registry log their errors to the process logger.
        CNetObject* object = m_reader->ReadObject("MsgFile");
        return static_cast<MsgFile*>(object);
    }

    gavex_test::TempDir m_temp{"msgfile"};
    std::string m_dir;
    std::unique_ptr<QorLog::CDebug> m_log;
    std::mutex m_linesLock;
    std::string m_lines;
    std::unique_ptr<platform::MemFile> m_file;
    std::unique_ptr<platform::Archive> m_archive;
    std::unique_ptr<ObjectArchive> m_reader;
};

} // namespace

TEST_F(MsgFileTest, FileTravelsWithItsTimesAndMessage)
{
    // Three pieces: two full ones and a short one.
    std::string contents(2 * 30720 + 17, '\0');
    for (size_t i = 0; i < contents.size(); ++i)
        contents[i] = static_cast<char>(i * 7 + 3);
    const std::string source = m_dir + "/source.bin";
    WriteSource(source, contents);
    timespec times[2] = {{1700000000, 123456700}, {1600000000, 987654300}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

    MsgFile msg(source);
    EXPECT_EQ(msg.m_nStatus, 1);
    msg.m_strTarget = m_dir + "/received/deeper/copy.bin"; // absolute: used as it is
    msg.m_msg.SetType("FILE");
    msg.m_msg.SetId("42");
    msg.m_msg.SetParam("camera", 3);
    const std::vector<uint8_t> bytes = StoreMsgFile(msg);

    Ref copy(Load(bytes));
    ASSERT_NE(copy.object, nullptr);
    const MsgFile& got = *static_cast<MsgFile*>(copy.object);
    EXPECT_EQ(m_archive->Remaining(), 0u);
    EXPECT_EQ(got.m_nStatus, 1);
    EXPECT_EQ(got.m_nSize, contents.size());
    EXPECT_EQ(got.m_msg.GetType(), "FILE");
    EXPECT_EQ(got.m_msg.GetId(), "42");
    EXPECT_EQ(got.m_msg.GetParam("camera"), "3");
    EXPECT_TRUE(got.IsVisited(MsgFile::ThisComputerName()));

    // Times first: reading the copy may move its access time.
    struct stat st{};
    ASSERT_EQ(stat((m_dir + "/received/deeper/copy.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1700000000);
    EXPECT_EQ(st.st_atim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654300);
    EXPECT_EQ(got.m_ftLastWrite, FileTimeFromUnix(1600000000, 987654300));
    EXPECT_EQ(got.m_ftLastAccess, FileTimeFromUnix(1700000000, 123456700));
    EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000ull);
    EXPECT_EQ(gavex_test::ReadFileString(m_dir + "/received/deeper/copy.bin"), contents);
}

TEST_F(MsgFileTest, MissingSourceStoresSizeZero)
{
    MsgFile msg(m_dir + "/absent.txt");
    EXPECT_EQ(msg.m_nStatus, 0);
    msg.m_strTarget = "\\logs\\a.txt";
    const std::vector<uint8_t> bytes = StoreMsgFile(msg);
    const std::string log = TakeLog();
    EXPECT_NE(log.find("Failed to open file ("), std::string::npos) << log;
    EXPECT_NE(log.find("Incorrect source file "), std::string::npos) << log;

    // Class tag, message text, target, size 0 and nothing more.
    std::vector<uint8_t> expected = {0xFF, 0xFF, 0x02, 0x00, 0x07, 0x00, 'M', 's', 'g', 'F', 'i', 'l', 'e'};
    const std::string text = "|||visited_slaves<" + [] {
        std::string name = MsgFile::ThisComputerName();
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    }() + ">";
    platform::AppendStringBytes(expected, text);
    platform::AppendStringBytes(expected, "\\logs\\a.txt");
    expected.insert(expected.end(), {0, 0, 0, 0});
    EXPECT_BYTES(expected, bytes);
}

TEST_F(MsgFileTest, TargetsBelowTheProgramFolderAndRefusedNames)
{
    const std::string source = m_dir + "/a.txt";
    WriteSource(source, "hello");
    const std::string unique = "gavex-msgfile-" + std::to_string(getpid());
    const struct {
        std::string target;
        std::string created; // empty: refused
        const char* logged;
    } cases[] = {
        {"\\" + unique + "\\logs\\a.txt", misc_GetModuleDir() + "/" + unique + "/logs/a.txt", nullptr},
        {"*\\" + unique + "\\b.txt", misc_GetModuleDir() + "/" + unique + "/b.txt", nullptr},
        {m_dir + "/plain/c.txt", m_dir + "/plain/c.txt", nullptr},
        {"noslash.txt", "", "Bad file name noslash.txt\n"},
        {"\\..\\..\\escape.txt", "", "Bad file name "},
        {m_dir + "/a.txt/under-a-file/d.txt", "", "Failed to create directory "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        // Written and read without the class tag, so that the reading object
        // logs to the caught logger.
        MsgFile msg(source);
        msg.SetLogger(m_log.get());
        msg.m_strTarget = c.target;
        platform::MemFile file;
        platform::Archive out(file, platform::Archive::store);
        msg.Serialize(out);
        file.SeekToBegin();
        TakeLog();
        MsgFile got;
        got.SetLogger(m_log.get());
        platform::Archive in(file, platform::Archive::load);
        got.Serialize(in);
        const std::string log = TakeLog();
        if (!c.created.empty()) {
            EXPECT_EQ(got.m_nStatus, 1);
            EXPECT_EQ(gavex_test::ReadFileString(c.created), "hello");
            EXPECT_EQ(in.Remaining(), 0u);
            EXPECT_EQ(log, "");
        } else {
            EXPECT_EQ(got.m_nStatus, 0);
            EXPECT_NE(log.find(std::string(" #* ERROR *# ") + c.logged), std::string::npos) << log;
        }
    }
    std::error_code ec;
    fs::remove_all(misc_GetModuleDir() + "/" + unique, ec);
}

TEST_F(MsgFileTest, ZeroLengthAndTruncatedStreams)
{
    const std::string empty = m_dir + "/empty.txt";
    WriteSource(empty, "");
    MsgFile msg(empty);
    msg.m_strTarget = m_dir + "/out/empty.txt";
    React after("NEXT", "1", "A");
    msg.SetLogger(m_log.get());
    std::vector<uint8_t> bytes = Store({&msg, &after});
    EXPECT_EQ(msg.m_nStatus, 0);
    EXPECT_NE(TakeLog().find("Zero length file " + empty), std::string::npos);
    {
        // The reader stops after the size and the next object follows in step.
        Ref copy(Load(bytes));
        Ref next(m_reader->ReadObject("Msg"));
        ASSERT_NE(next.object, nullptr);
        EXPECT_EQ(static_cast<Msg*>(next.object)->GetType(), "NEXT");
        EXPECT_EQ(m_archive->Remaining(), 0u);
    }

    // A stream cut inside the contents fails instead of waiting for data.
    const std::string source = m_dir + "/some.txt";
    WriteSource(source, std::string(1000, 'x'));
    MsgFile full(source);
    full.m_strTarget = m_dir + "/out/some.txt";
    bytes = StoreMsgFile(full);
    bytes.resize(bytes.size() - 100);
    try {
        Ref copy(Load(bytes));
        ADD_FAILURE() << "no error";
    } catch (const platform::ArchiveException& e) {
        EXPECT_EQ(e.m_cause, platform::ArchiveException::endOfFile);
    }
}

TEST_F(MsgFileTest, VisitedComputersAreKeptOnce)
{
    MsgFile msg;
    EXPECT_EQ(msg.m_nStatus, 0);
    msg.AddVisited("alpha");
    msg.AddVisited("Alpha");
    msg.AddVisited("beta");
    msg.AddVisited("ALPHA");
    EXPECT_EQ(msg.m_msg.GetParam("visited_slaves"), "ALPHA,BETA");
    EXPECT_TRUE(msg.IsVisited("beta"));
    EXPECT_FALSE(msg.IsVisited("alph"));
    EXPECT_FALSE(msg.IsVisited(""));
}

TEST_F(MsgFileTest, CreateDirectoryPathLevelByLevel)
{
    WriteSource(m_dir + "/file", "x");
    const struct {
        std::string path;
        bool result;
    } cases[] = {
        {m_dir + "/a/b/c", true},
        {m_dir + "/a/b/c", true},     // exists already
        {m_dir + "\\w\\x\\", true},   // either separator, trailing one ignored
        {m_dir + "/file/sub", false}, // a file in the way
        {"\\\\server", false},
        {"\\\\server\\share", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CreateDirectoryPath(c.path), c.result) << c.path;
    }
    EXPECT_TRUE(fs::is_directory(m_dir + "/a/b/c"));
    EXPECT_TRUE(fs::is_directory(m_dir + "/w/x"));
}
