// Messages: their stored bytes (plain and "zip_msg"), their text forms and
// their reference counts.
#include <gtest/gtest.h>
#include <zlib.h>

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/Messages.h"
#include "platform/Archive.h"
#include "platform/File.h"
#include "ByteDump.h"

namespace {

using base_test::Bytes;

// Hand-built pieces of a fixture.
void Put(Bytes& out, std::initializer_list<uint8_t> bytes) { out.insert(out.end(), bytes); }
void PutText(Bytes& out, const std::string& text) {
    ASSERT_LT(text.size(), 255u);
    out.push_back(static_cast<uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

Bytes Store(Msg& msg) {
    platform::MemFile file;
    platform::Archive ar(file, platform::Archive::store);
    msg.Serialize(ar);
    return Bytes(file.Data(), file.Data() + file.Size());
}

template <typename T = Msg>
T Load(const Bytes& bytes, uint64_t* left = nullptr) {
    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    T msg;
    msg.Serialize(ar);
    if (left != nullptr) *left = ar.Remaining();
    return msg;
}

void ExpectSameMessage(const Msg& a, const Msg& b) {
    EXPECT_EQ(a.GetType(), b.GetType());
    EXPECT_EQ(a.GetId(), b.GetId());
    EXPECT_EQ(a.GetAction(), b.GetAction());
    EXPECT_EQ(a.GetParams(), b.GetParams());
}

// Compression is a process-wide switch; every test leaves it off.
class CompressionOn {
public:
    CompressionOn() { Msg::SetCompression(true); }
    ~CompressionOn() { Msg::SetCompression(false); }
};

TEST(Messages, EventStoresItsTextsAndParameters) {
    Event ev("CAM", 5, "ARCH_DELETE");
    ev.SetParam("x", 1);
    ev.SetParam("file", "a.txt");

    Bytes expected;
    PutText(expected, "CAM");
    PutText(expected, "5");
    PutText(expected, "ARCH_DELETE");
    Put(expected, {0x02, 0x00});
    PutText(expected, "file");
    PutText(expected, "a.txt");
    PutText(expected, "x");
    PutText(expected, "1");
    EXPECT_BYTES(expected, Store(ev));

    uint64_t left = 99;
    Event back = Load<Event>(expected, &left);
    ExpectSameMessage(back, ev);
    EXPECT_EQ(left, 0u);
}

// Msg, Event and React share one layout; the edge cases of the texts.
TEST(Messages, FixturesOfTheThreeClasses) {
    const std::string longId(300, 'i');
    const std::string zurich = "Z\xC3\xBCrich";  // UTF-8, 7 bytes

    struct Case {
        const char* name;
        Msg* msg;
        Bytes bytes;
    };
    Msg empty;
    React react("OLXA_LINE", longId, "RECORD_START");
    Event text("CAM", zurich, "\xE2\x82\xAC");
    text.SetParam("n\xC3\xA4me", zurich);

    Bytes emptyBytes = {0x00, 0x00, 0x00, 0x00, 0x00};  // three empty texts, count 0

    Bytes reactBytes;
    PutText(reactBytes, "OLXA_LINE");
    Put(reactBytes, {0xFF, 0x2C, 0x01});  // 300 in 16 bits
    reactBytes.insert(reactBytes.end(), longId.begin(), longId.end());
    PutText(reactBytes, "RECORD_START");
    Put(reactBytes, {0x00, 0x00});

    Bytes textBytes;
    PutText(textBytes, "CAM");
    Put(textBytes, {0x07, 'Z', 0xC3, 0xBC, 'r', 'i', 'c', 'h'});
    Put(textBytes, {0x03, 0xE2, 0x82, 0xAC});
    Put(textBytes, {0x01, 0x00});
    Put(textBytes, {0x05, 'n', 0xC3, 0xA4, 'm', 'e'});
    Put(textBytes, {0x07, 'Z', 0xC3, 0xBC, 'r', 'i', 'c', 'h'});

    Case cases[] = {
        {"empty message", &empty, emptyBytes},
        {"react with a 300-byte id", &react, reactBytes},
        {"non-ASCII texts", &text, textBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_BYTES(c.bytes, Store(*c.msg));
        ExpectSameMessage(Load(c.bytes), *c.msg);
    }
}

TEST(Messages, LoadingAddsToExistingParameters) {
    Bytes bytes;
    PutText(bytes, "T");
    PutText(bytes, "1");
    PutText(bytes, "A");
    Put(bytes, {0x01, 0x00});
    PutText(bytes, "a");
    PutText(bytes, "new");

    platform::MemFile file{Bytes(bytes)};
    platform::Archive ar(file, platform::Archive::load);
    Msg msg;
    msg.SetParam("a", "old");
    msg.SetParam("b", "kept");
    msg.Serialize(ar);
    EXPECT_EQ(msg.GetParam("a"), "new");
    EXPECT_EQ(msg.GetParam("b"), "kept");
}

TEST(Messages, ZipFormRoundTrip) {
    CompressionOn on;
    Event ev("CAM", 12, "FILE_REC_ERROR");
    for (int i = 0; i < 20; ++i) ev.SetParam("param" + std::to_string(i), "the same long value again and again");

    Bytes bytes = Store(ev);
    const std::string text = ev.FormatText();
    ASSERT_GT(bytes.size(), 12u);
    Bytes head(bytes.begin(), bytes.begin() + 8);
    EXPECT_BYTES((Bytes{0x07, 'z', 'i', 'p', '_', 'm', 's', 'g'}), head);
    const uint32_t size = bytes[8] | bytes[9] << 8 | bytes[10] << 16 | static_cast<uint32_t>(bytes[11]) << 24;
    ASSERT_EQ(size, bytes.size() - 12);
    EXPECT_LT(size, text.size());

    // The payload is a plain zlib stream of the message's text form.
    std::vector<Bytef> inflated(text.size() + 16);
    uLongf inflatedSize = static_cast<uLongf>(inflated.size());
    ASSERT_EQ(uncompress(inflated.data(), &inflatedSize, bytes.data() + 12, size), Z_OK);
    EXPECT_EQ(std::string(inflated.begin(), inflated.begin() + inflatedSize), text);

    uint64_t left = 99;
    Event back = Load<Event>(bytes, &left);
    ExpectSameMessage(back, ev);
    EXPECT_EQ(left, 0u);
}

TEST(Messages, ZipFormOnlyWhenShorter) {
    CompressionOn on;
    Event ev("CAM", 1, "X");
    ev.SetParam("a", 1);
    Bytes expected;
    PutText(expected, "CAM");
    PutText(expected, "1");
    PutText(expected, "X");
    Put(expected, {0x01, 0x00});
    PutText(expected, "a");
    PutText(expected, "1");
    EXPECT_BYTES(expected, Store(ev));
}

// Every cut of a valid message, and sizes or counts that claim more than
// there is, give an archive error (never a huge allocation or a hang).
TEST(Messages, TruncatedAndOversizedInputsAreArchiveErrors) {
    Event plain("CAM", 7, "RECORD_STOP");
    plain.SetParam("file", "x");
    Bytes plainBytes = Store(plain);
    Bytes zipBytes;
    {
        CompressionOn on;
        Event big("CAM", 7, "RECORD_STOP");
        for (int i = 0; i < 10; ++i) big.SetParam("p" + std::to_string(i), std::string(40, 'v'));
        zipBytes = Store(big);
        ASSERT_EQ(zipBytes[1], 'z');
    }
    for (const Bytes* whole : {&plainBytes, &zipBytes}) {
        for (size_t cut = 0; cut < whole->size(); ++cut) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole->size()));
            Bytes part(whole->begin(), whole->begin() + cut);
            EXPECT_THROW(Load(part), platform::ArchiveException);
        }
    }

    Bytes zipHeader = {0x07, 'z', 'i', 'p', '_', 'm', 's', 'g'};
    struct Case {
        const char* name;
        Bytes bytes;
    };
    Bytes hugeSize = zipHeader;
    Put(hugeSize, {0xF0, 0xFF, 0xFF, 0xFF, 0x78, 0xDA});
    Bytes garbage = zipHeader;
    Put(garbage, {0x04, 0x00, 0x00, 0x00, 0x78, 0xDA, 0x12, 0x34});
    Bytes trailing = zipHeader;
    {
        const char text[] = "T|1|A|a<b>";
        Bytes packed(64);
        uLongf packedSize = static_cast<uLongf>(packed.size());
        ASSERT_EQ(compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(text), sizeof(text) - 1),
                  Z_OK);
        packed.resize(packedSize);
        packed.push_back(0x00);  // one byte after the end of the stream
        const uint32_t n = static_cast<uint32_t>(packed.size());
        Put(trailing, {static_cast<uint8_t>(n), 0, 0, 0});
        trailing.insert(trailing.end(), packed.begin(), packed.end());
    }
    Bytes hugeCount;
    PutText(hugeCount, "T");
    PutText(hugeCount, "1");
    PutText(hugeCount, "A");
    Put(hugeCount, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00});

    Case cases[] = {
        {"zip size past the end", hugeSize},
        {"damaged zlib stream", garbage},
        {"bytes after the zlib stream", trailing},
        {"parameter count past the end", hugeCount},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(Load(c.bytes), platform::ArchiveException);
    }
}

// Damaged bytes of both forms: every mutation either loads or raises an
// archive error (no crash, no runaway allocation, no hang).
TEST(Messages, MutatedBytesLoadOrFailCleanly) {
    Event ev("CAM", 3, "ARCH_NEW");
    for (int i = 0; i < 6; ++i) ev.SetParam("name" + std::to_string(i), std::string(30, static_cast<char>('a' + i)));
    Bytes plain = Store(ev);
    Bytes zip;
    {
        CompressionOn on;
        zip = Store(ev);
    }
    std::mt19937 rng(12345);
    for (const Bytes* original : {&plain, &zip}) {
        for (int round = 0; round < 3000; ++round) {
            Bytes bytes = *original;
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
            if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
            try {
                Msg msg = Load(bytes);
                EXPECT_LE(msg.FormatText().size(), 4 * original->size() + 64);
            } catch (const platform::ArchiveException&) {
            }
        }
    }
}

TEST(Messages, TextForm) {
    Event ev("T", 5, "A");
    ev.SetParam("x", 1);
    EXPECT_EQ(ev.FormatText(), "T|5|A|x<1>");
    EXPECT_EQ(Msg().FormatText(), "|||");

    Msg back;
    ASSERT_TRUE(back.FromText("T|5|A|x<1>"));
    EXPECT_EQ(back.GetType(), "");  // the type is the caller's
    EXPECT_EQ(back.GetId(), "5");
    EXPECT_EQ(back.GetAction(), "A");
    EXPECT_EQ(back.GetParams(), (Msg::Params{{"x", "1"}}));

    Msg keep;
    keep.SetParam("old", "1");
    ASSERT_TRUE(keep.FromText("T|9|B"));
    EXPECT_TRUE(keep.GetParams().empty());

    Msg unchanged;
    unchanged.SetId("id");
    EXPECT_FALSE(unchanged.FromText("T|only-id"));
    EXPECT_EQ(unchanged.GetId(), "id");
}

TEST(Messages, ParseParams) {
    const std::string name120(120, 'n');
    struct Case {
        std::string text;
        Msg::Params params;
    } cases[] = {
        {"a<1>,b<x>", {{"a", "1"}, {"b", "x"}}},
        {"a<b<c>d>,e<f>", {{"a", "b<c>d"}, {"e", "f"}}},
        {"a<unterminated", {{"a", "unterminated"}}},
        {"a<>", {{"a", ""}}},
        {"lonely", {{"lonely", ""}}},
        {"a<1>;b<2>", {{"a", "1"}, {"b", "2"}}},  // any one character separates
        {name120 + "<v>", {{std::string(100, 'n'), std::string(19, 'n') + "<v>"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        Msg msg;
        msg.SetParam("stale", "1");
        msg.ParseParams(c.text);
        EXPECT_EQ(msg.GetParams(), c.params);
    }
}

TEST(Messages, SetParamForms) {
    Msg msg;
    msg.SetParam("i", -42);
    msg.SetParam("d", 2.5);
    msg.SetParam("s", std::string("text"));
    msg.SetParam("i", 7);  // replaces
    EXPECT_EQ(msg.GetParam("i"), "7");
    EXPECT_EQ(msg.GetParam("d"), "2.5");
    EXPECT_EQ(msg.GetParam("s"), "text");
    EXPECT_EQ(msg.GetParam("missing"), "");
    EXPECT_EQ(Event("CAM", -3, "X").GetId(), "-3");
}

TEST(Messages, EventFromReact) {
    React react("OLXA_LINE", "12", "RECORD_START");
    react.SetParam("cam", 3);
    react.SetParam("file", "f.avi");
    Event ev;
    ev.FromReact(react);
    EXPECT_EQ(ev.GetType(), "CORE");
    EXPECT_EQ(ev.GetId(), "");
    EXPECT_EQ(ev.GetAction(), "DO_REACT");
    EXPECT_EQ(ev.GetParams(), (Msg::Params{{"source_type", "OLXA_LINE"},
                                           {"source_id", "12"},
                                           {"action", "RECORD_START"},
                                           {"param0_name", "cam"},
                                           {"param0_val", "3"},
                                           {"param1_name", "file"},
                                           {"param1_val", "f.avi"},
                                           {"params", "2"}}));
}

TEST(Messages, CopyAndAssignment) {
    Event a("T", "1", "A");
    a.SetParam("k", "v");
    a.AddRef();
    Event b(a);
    EXPECT_EQ(b.GetRefCount(), 1);  // a copy is a new object
    ExpectSameMessage(a, b);
    Msg c;
    c = a;
    ExpectSameMessage(a, c);
    EXPECT_EQ(c.GetRefCount(), 1);
    EXPECT_STREQ(b.GetClassName(), "Event");
    EXPECT_STREQ(React().GetClassName(), "React");
    EXPECT_STREQ(c.GetClassName(), "Msg");
    a.Release();
}

class Counted : public Msg {
public:
    explicit Counted(int* destroyed) : m_destroyed(destroyed) {}
    ~Counted() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

TEST(Messages, ReferenceCount) {
    int destroyed = 0;
    auto* msg = new Counted(&destroyed);
    EXPECT_EQ(msg->AddRef(), msg);
    EXPECT_FALSE(msg->Release());
    EXPECT_EQ(destroyed, 0);
    EXPECT_TRUE(msg->Release());
    EXPECT_EQ(destroyed, 1);

    {
        boost::intrusive_ptr<CNetObject> held(new Counted(&destroyed), false);
        boost::intrusive_ptr<CNetObject> other = held;
        EXPECT_EQ(held->GetRefCount(), 2);
    }
    EXPECT_EQ(destroyed, 2);
}

TEST(Messages, ZlibHelperRefusesBadStreams) {
    std::vector<uint8_t> packed;
    const std::string text(1000, 'a');
    ZlibHelper::Compress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), packed);
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x78);
    EXPECT_EQ(packed[1], 0xDA);  // level 9

    std::vector<uint8_t> out;
    ASSERT_TRUE(ZlibHelper::Decompress(packed.data(), packed.size(), out));
    EXPECT_EQ(std::string(out.begin(), out.end()), text);
    EXPECT_FALSE(ZlibHelper::Decompress(packed.data(), packed.size() - 3, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(ZlibHelper::Decompress(packed.data(), packed.size(), out, 999));  // output limit
}

}  // namespace
