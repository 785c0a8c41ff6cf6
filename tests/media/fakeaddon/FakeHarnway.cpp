// A stand-in for the codec add-on whose converters misbehave on request, to
// test how the program copes. The behaviour is read from the environment
// variable FAKE_HARNWAY_MODE at each converter creation:
//   "throw_once"   the first Convert in this mode in the process throws
//   "composite"    Convert returns a composite buffer
//   "unsupported"  a converter made for a preferred codec reports the stream
//                  unsupported
//   "plain"        the manager does not answer the CSDK::IHarnway2 contract
//   anything else  a 16x16 grey YUV420 picture per frame, its first luma byte
//                  counting the frames the converter has seen
// Every call is recorded; FakeHarnwayEvents() returns the record.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "media/CSdkContract.h"

namespace {

std::mutex g_lock;
std::string g_events;
bool g_thrown = false;

void Record(const std::string& event)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_events += event + ";";
}

std::string Mode()
{
    const char* mode = std::getenv("FAKE_HARNWAY_MODE");
    return mode ? mode : "";
}

class FakeConverter final : public CSDK::IMediaConverter2
{
public:
    FakeConverter(MFF::IMultimediaFrameFactory* factory, std::string preferred)
        : m_factory(factory), m_preferred(std::move(preferred)), m_mode(Mode())
    {
    }

    MFF::IMultimediaBuffer* Convert(MFF::ICompressedBuffer* input, int32_t) override
    {
        Record(std::string("convert:") + input->GetFormat() + ":" + std::to_string(input->GetSize()));
        if (m_mode == "throw_once") {
            std::unique_lock<std::mutex> lock(g_lock);
            if (!g_thrown) {
                g_thrown = true;
                throw std::runtime_error("decoder state lost");
            }
        }
        if (m_mode == "composite")
            return m_factory->CreateCompositeBuffer("RGB", 64, 16, input->GetTimestamp(), 16, 0);
        ++m_seen;
        MFF::IPlanarBuffer* out = m_factory->CreatePlanarBuffer("YUV420", 256, 64, 64, 16, 8, 8,
                                                                input->GetTimestamp(), 16, 16);
        if (out) {
            std::memset(out->GetPlane0(), 0x80, 256 + 64 + 64);
            out->GetPlane0()[0] = uint8_t(m_seen);
        }
        return out;
    }
    void Reset() override { Record("reset"); }
    void Release() override
    {
        Record("release");
        delete this;
    }
    bool IsSupported(MFF::ICompressedBuffer*, int32_t) override
    {
        Record("supported");
        return !(m_mode == "unsupported" && !m_preferred.empty());
    }

private:
    ~FakeConverter() = default;
    MFF::IMultimediaFrameFactory* m_factory;
    std::string m_preferred;
    std::string m_mode;
    int m_seen = 0;
};

class FakeManager final : public CSDK::IHarnway2
{
public:
    void* QueryContract(const char* name) override
    {
        if (name && std::strcmp(name, CSDK::kHarnway2Contract) == 0 && Mode() != "plain")
            return static_cast<CSDK::IHarnway2*>(this);
        return nullptr;
    }
    CSDK::IMediaConverter* CreateConverter(const char* output,
                                           MFF::IMultimediaFrameFactory* factory) override
    {
        Record(std::string("create:") + output);
        return new FakeConverter(factory, "");
    }
    CSDK::IMediaConverter* CreateConverter(const char* output, MFF::IMultimediaFrameFactory* factory,
                                           const char* preferred) override
    {
        Record(std::string("create:") + output + ":" + preferred);
        return new FakeConverter(factory, preferred);
    }
    ~FakeManager() override { Record("manager_gone"); }
};

} // namespace

extern "C" GAVEX_SDK_VISIBLE void GetHarnwaySL(std::shared_ptr<CSDK::IHarnway>* result,
                                               const char* folder, QOR8::ILogger* logger)
{
    Record(std::string("entry:") + (folder ? folder : "(null)") + (logger ? ":logger" : ""));
    *result = std::make_shared<FakeManager>();
}

extern "C" GAVEX_SDK_VISIBLE void GetHarnwayS(std::shared_ptr<CSDK::IHarnway>* result,
                                              const char* folder)
{
    Record(std::string("entry_s:") + (folder ? folder : "(null)"));
    *result = std::make_shared<FakeManager>();
}

// The calls recorded so far; cleared by the call.
extern "C" GAVEX_SDK_VISIBLE const char* FakeHarnwayEvents()
{
    static std::string copy;
    std::lock_guard<std::mutex> lock(g_lock);
    copy = g_events;
    g_events.clear();
    return copy.c_str();
}
