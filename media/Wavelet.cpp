#include "media/Wavelet.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Locks.h"
#include "base/Log.h"
#include "base/ModuleDir.h"
#include "base/Registry.h"

namespace wavelet {

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";
constexpr uint32_t kGuard = 0xFFFFFFFF;
constexpr uint32_t kHeaderLength = 36;

QorLog::CDebug* Logger() { return getDefaultDebugInstance(); }

uint32_t Load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Load16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
void Store32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
void Store16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void AppendTag(uint8_t* at, uint8_t code)
{
    at[0] = 'I';
    at[1] = '+';
    at[2] = 'v';
    at[3] = code;
}

// Opening and closing 7.1 handles is serialised process-wide.
qormisc::CriticalSection& Library71Lock()
{
    static qormisc::CriticalSection lock;
    return lock;
}

// The folder the loader took the linked 7.1 library from; empty when it
// cannot be told.
std::string LinkedLibraryFolder()
{
    void* linked = dlopen("libFerrowen3S140321.so", RTLD_NOW | RTLD_NOLOAD);
    if (!linked)
        return std::string();
    char origin[PATH_MAX + 1] = {};
    const bool known = dlinfo(linked, RTLD_DI_ORIGIN, origin) == 0;
    dlclose(linked);
    return known ? std::string(origin) : std::string();
}

} // namespace

// A codec library opened by path: from the program's folder, else from the
// folder of the linked 7.1 library (where the linked library's run path led
// the loader), else by the loader's own search. A bare name alone would not
// do: the loader searches the run path of the object that calls dlopen, and
// under a sanitizer's run-time that is the run-time's interceptor, not us.
class Library
{
public:
    explicit Library(const char* name)
    {
        std::vector<std::string> paths{misc_GetModuleDir() + "/" + name};
        const std::string linkedFolder = LinkedLibraryFolder();
        if (!linkedFolder.empty())
            paths.push_back(linkedFolder + "/" + name);
        for (const std::string& path : paths) {
            m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (m_handle)
                break;
        }
        if (!m_handle)
            m_handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            // dlopen leaves no error number: tell a missing file from one
            // that would not load.
            m_error = ENOENT;
            for (const std::string& path : paths)
                if (access(path.c_str(), F_OK) == 0)
                    m_error = ENOEXEC;
            const char* why = dlerror();
            Logger()->Trace("[WAVELET] %s", why ? why : name);
        }
    }
    ~Library()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    bool IsOpen() const { return m_handle != nullptr; }
    int Error() const { return m_error; }
    template <typename F>
    bool Resolve(F& fn, const char* symbol)
    {
        fn = reinterpret_cast<F>(dlsym(m_handle, symbol));
        return fn != nullptr;
    }

private:
    void* m_handle = nullptr;
    int m_error = 0;
};

int ReductionLevel(int streamWidth, int wantedWidth)
{
    if (wantedWidth <= 0 || wantedWidth >= streamWidth)
        return 0;
    int ratio = streamWidth / wantedWidth;
    int level = 0;
    while (ratio > 1) {
        ratio >>= 1;
        ++level;
    }
    return level;
}

FerrowenPlanes Wavelet::MakePlanes(const uint8_t* picture) const
{
    FerrowenPlanes planes{};
    if (picture == nullptr)
        return planes;
    uint8_t* y = const_cast<uint8_t*>(picture);
    const size_t area = size_t(m_width) * size_t(m_height);
    planes.y = y;
    planes.u = y + area;
    planes.v = y + (m_outputFormat == -3 ? area * 5 / 4 : area * 3 / 2);
    planes.pitch = m_width;
    planes.width = m_width;
    planes.height = m_height;
    return planes;
}

// ---------------------------------------------------------------- 3.5

struct Wavelet3::Functions {
    FwVideoOpenFn open = nullptr;
    FwVideoCloseFn close = nullptr;
    FwVideoLastErrorFn lastError = nullptr;
    FwVideoEncodeFn encode = nullptr;
    FwVideoEncodeExFn encodeEx = nullptr;
    FwVideoDecodeFn decode = nullptr;
    FwVideoDecodeExFn decodeEx = nullptr;
    FwVideoTruncateFn truncate = nullptr;
};

Wavelet3::Wavelet3(int width, int height, int outputFormat, int type)
    : Wavelet(width, height, outputFormat)
{
    if (width <= 0 || height <= 0 || width % 4 != 0 || height % 4 != 0 || width > 0xFFFF ||
        height > 0xFFFF) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Error: Resolution is not supported %dx%d", width,
                      height);
        throw std::runtime_error("[WAVELET][3.5] Error: Invalid resolution provided.");
    }
    m_library = std::make_unique<Library>("libFerrowen3_64.so");
    if (!m_library->IsOpen()) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Failed to load Ferrowen3dll. Error: %d.",
                      m_library->Error());
        throw std::runtime_error("[WAVELET][3.5] Failed to load Ferrowen3.dll.");
    }
    m_fn = std::make_unique<Functions>();
    Library& l = *m_library;
    if (!(l.Resolve(m_fn->open, "DLL_VideoOpen") && l.Resolve(m_fn->close, "DLL_VideoClose") &&
          l.Resolve(m_fn->lastError, "DLL_VideoLastError") &&
          l.Resolve(m_fn->encode, "DLL_VideoEncode") &&
          l.Resolve(m_fn->encodeEx, "DLL_VideoEncodeEx") &&
          l.Resolve(m_fn->decode, "DLL_VideoDecode") &&
          l.Resolve(m_fn->decodeEx, "DLL_VideoDecodeEx") &&
          l.Resolve(m_fn->truncate, "DLL_VideoTruncate"))) {
        QOR_LOG_ERROR(Logger(), "[WAVELET][3.5] Failed to load functions in Ferrowen3dll. Error: %d.",
                      ENOENT);
        m_library.reset();
        throw std::runtime_error("[WAVELET][3.5] Failed to load Ferrowen3.dll.");
    }

    {
        RegistryKey key(kVideoKey, true, RegistryKey::kAllAccess | RegistryKey::kWow64_32Key);
        m_lowResolution = key.ReadInt("lowresolution", 0) != 0;
    }
    if (m_lowResolution) {
        m_quality = std::make_unique<LowResolutionTable35>();
        m_quality->Load();
    }

    uint32_t magic = 0x00CAEC0D;
    if (type == 10 || type == 11)
        magic |= 0x20000000;
    int levels = 4;
    if (width >= 800 && height >= 600)
        levels = 6;
    else if (width >= 640 && height >= 320)
        levels = 5;
    uint16_t word = uint16_t(levels);
    if (height <= width / 2)
        word |= 0x08;
    if (outputFormat == -3 && type != 11)
        word |= 0x10;
    word |= 0x100;
    Store32(m_record, magic);
    Store16(m_record + 4, word);
    Store16(m_record + 6, uint16_t(width));
    Store16(m_record + 8, uint16_t(width));
    Store16(m_record + 10, uint16_t(height));
    m_handle = m_fn->open(m_record);
}

Wavelet3::~Wavelet3()
{
    if (m_handle && m_fn)
        m_fn->close(m_handle);
}

Wavelet3* CreateWavelet3(int width, int height, int outputFormat, int type)
{
    try {
        return new Wavelet3(width, height, outputFormat, type);
    } catch (const std::exception&) {
        return nullptr;
    }
}

int Wavelet3::GetLevels() { return Load16(m_record + 4) & 7; }

uint32_t Wavelet3::Decompress(const uint8_t* frameHeader, uint8_t* picture, int level)
{
    if (!m_handle)
        return 0;
    FerrowenPlanes planes = MakePlanes(picture);
    return m_fn->decode(m_handle, &planes, frameHeader, 0, level);
}

int Wavelet3::ChooseQuality(int row, int qualityIndex) const
{
    if (row >= 0 && m_quality) {
        const int q = m_quality->Quality(row, qualityIndex);
        if (q >= 0)
            return q;
    }
    if (m_width < 640 && m_height < 320)
        return qualityIndex * 10 + 15;
    if (m_height < 320)
        return qualityIndex * 7 + 9;
    return qualityIndex * 5 + 11;
}

int Wavelet3::Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                       int extra)
{
    if (!m_handle || picture == nullptr || out == nullptr)
        return 0;
    std::memset(out, 0, 24);
    Store32(out, kGuard);
    uint16_t flags = 0;
    if (colour == 0)
        flags |= 4;
    if (key)
        flags |= 1;
    Store16(out + 20, flags);

    int row = -1;
    if (m_lowResolution && picture[0] == 0xAA && picture[1] <= 2) {
        row = picture[1];
        // The marker bytes stand in for the two pixels below them.
        picture[0] = picture[m_width];
        picture[1] = picture[m_width + 1];
    }
    const int quality = ChooseQuality(row, qualityIndex);
    FerrowenPlanes planes = MakePlanes(picture);
    const int length = m_fn->encode(m_handle, &planes, out, quality, extra);
    if (length <= 0)
        return 0;
    const uint32_t l = Load32(out + 4);
    AppendTag(out + l, m_outputFormat == -3 ? 0x9E : 0x9F);
    return int(l + 4);
}

bool Wavelet3::CheckCRC(const uint8_t* frame, uint32_t size)
{
    QorLog::CDebug* log = Logger();
    if (frame == nullptr || size < 12) {
        QOR_LOG_ERROR(log, "CheckCRC: frame of %lu bytes has no header", (unsigned long)size);
        return false;
    }
    const uint32_t guard = Load32(frame);
    if (guard != kGuard) {
        QOR_LOG_ERROR(log, "CheckCRC: GUARD(0x%08X) section missed.", guard);
        return false;
    }
    const uint32_t words = (Load32(frame + 4) >> 2) & 0x3FFFFF;
    if (words <= 6) {
        QOR_LOG_ERROR(log, "CheckCRC: frameSize(%lu) < HeadOffset(%lu)", (unsigned long)words, 6ul);
        return false;
    }
    if (words > 300000) {
        QOR_LOG_ERROR(log, "CheckCRC: frameSize(%lu) > 300000", (unsigned long)words);
        return false;
    }
    if (uint64_t(words) * 4 > size) {
        QOR_LOG_ERROR(log, "CheckCRC: frameSize(%lu) exceeds the frame's %lu bytes",
                      (unsigned long)words, (unsigned long)size);
        return false;
    }
    uint32_t sum = 0;
    for (uint32_t i = 6; i < words; ++i)
        sum += Load32(frame + 4 * i);
    if ((sum & 0x7FFFFFFF) == Load32(frame + 8))
        return true;
    QOR_LOG_ERROR(log, "CheckCRC: bad crc");
    return false;
}

// ---------------------------------------------------------------- 6.5

struct WxWl3::Functions {
    FwWxwlOpenFn open = nullptr;
    FwWxwlOpenExFn openEx = nullptr;
    FwWxwlCloseFn close = nullptr;
    FwWxwlLastErrorFn lastError = nullptr;
    FwWxwlGetVersionFn getVersion = nullptr;
    FwWxwlGetDiffFn getDiff = nullptr;
    FwWxwlDownscaleFn downscale = nullptr; // optional
    FwWxwlTruncateFn truncate = nullptr;
    FwWxwlSetDefaultFn setEncDefault = nullptr;
    FwWxwlEncodeFn encode = nullptr;
    FwWxwlSetDefaultFn setDecDefault = nullptr;
    FwWxwlDecodeFn decode = nullptr;
};

WxWl3::WxWl3(int width, int height, int outputFormat) : Wavelet(width, height, outputFormat)
{
    m_library = std::make_unique<Library>("libFerrowen7_64.so");
    auto fn = std::make_unique<Functions>();
    Library& l = *m_library;
    const bool loaded =
        l.IsOpen() && l.Resolve(fn->open, "DLL_WXWLCodecOpen") &&
        l.Resolve(fn->openEx, "DLL_WXWLCodecOpenEx") && l.Resolve(fn->close, "DLL_WXWLCodecClose") &&
        l.Resolve(fn->lastError, "DLL_WXWLCodecLastError") &&
        l.Resolve(fn->getVersion, "DLL_WXWLCodecGetVersion") &&
        l.Resolve(fn->getDiff, "DLL_WXWLCodecGetDiff") &&
        l.Resolve(fn->truncate, "DLL_WXWLCodecTruncate") &&
        l.Resolve(fn->setEncDefault, "DLL_WXWLSetEncDefault") &&
        l.Resolve(fn->encode, "DLL_WXWLCodecEncode") &&
        l.Resolve(fn->setDecDefault, "DLL_WXWLSetDecDefault") &&
        l.Resolve(fn->decode, "DLL_WXWLCodecDecode");
    if (!loaded) {
        // Without its library the codec keeps no functions: every operation
        // fails.
        QOR_LOG_ERROR(Logger(), "[WXWL] DLL loading failed\n");
        m_library.reset();
        return;
    }
    l.Resolve(fn->downscale, "DLL_WXWLCodecDownscale");
    m_fn = std::move(fn);
    m_rates = std::make_unique<CompressionRates65>();
    m_rates->Load(CompressionRates65::kKeyPath, 2, 25);
    if (width > 0 && height > 0 && width % 4 == 0 && height % 4 == 0 && width <= 0xFFFF &&
        height <= 0xFFFF) {
        m_description = std::make_unique<uint8_t[]>(kHeaderLength);
        uint8_t* d = m_description.get();
        std::memset(d, 0, kHeaderLength);
        Store32(d, kGuard);
        Store32(d + 4, 0x40000000);
        d[12] = kHeaderLength;
        Store16(d + 28, uint16_t(width));
        Store16(d + 30, uint16_t(height));
        int levels = 5;
        if (width < 320 || height < 240)
            levels = 3;
        else if (width < 640 || height < 480)
            levels = 4;
        uint32_t flags = 0x800 + uint32_t(levels);
        if (outputFormat != 0)
            flags += 0x10;
        Store32(d + 24, flags);
        Logger()->Trace("[WXWL] stream header flags (0x%08X)", flags);
    }
}

WxWl3::~WxWl3()
{
    if (m_handle && m_fn)
        m_fn->close(m_handle);
}

bool WxWl3::IsLoaded() const { return m_fn != nullptr; }

int WxWl3::GetLevels() { return m_description ? int(Load32(m_description.get() + 24) & 7) : 0; }

bool WxWl3::Open(const uint8_t* description, int& error)
{
    if (m_handle)
        return true;
    error = 0;
    m_handle = m_fn->openEx(description, Load16(description + 28), &error);
    if (m_handle == nullptr || error != 0) {
        if (m_handle)
            m_fn->close(m_handle);
        m_handle = nullptr;
        return false;
    }
    return true;
}

uint32_t WxWl3::Decompress(const uint8_t* frameHeader, uint8_t* picture, int level)
{
    if (!m_fn || frameHeader == nullptr)
        return 0;
    const uint32_t guard = Load32(frameHeader);
    if (guard != kGuard) {
        QOR_LOG_ERROR(Logger(), "[WXWL] broken frame. Guard(%08X)", guard);
        return 0;
    }
    int error = 0;
    if (!m_handle && !Open(frameHeader, error)) {
        QOR_LOG_ERROR(Logger(), "[WXWL] initialization failed. err(%d)", error);
        return 0;
    }
    int32_t parameters[kFerrowenParamCount];
    m_fn->setDecDefault(parameters);
    parameters[kFerrowenParamLevel] = level;
    FerrowenPlanes planes = MakePlanes(picture);
    return m_fn->decode(m_handle, &planes, frameHeader, parameters);
}

int WxWl3::Downscale(const uint8_t* frameHeader, uint32_t available, std::vector<uint8_t>& out,
                     int width)
{
    if (!m_fn || !m_fn->downscale || frameHeader == nullptr || available < kHeaderLength)
        return 0;
    const int frameWidth = Load16(frameHeader + 28);
    if (width == 0 || width >= frameWidth)
        return 0;
    const int level = std::min(ReductionLevel(frameWidth, width), int(Load32(frameHeader + 24) & 7));
    if (level == 0)
        return 0;
    const uint32_t length = Load32(frameHeader + 4) & 0xFFFFFF;
    if (length > available)
        return 0;
    out.assign(frameHeader, frameHeader + length);
    out.resize(size_t(length) + 4096);
    int error = 0;
    const int n = m_fn->downscale(out.data(), level, &error);
    if (n <= 0 || error != 0 || uint32_t(n) > length) {
        out.clear();
        return 0;
    }
    AppendTag(out.data() + n, m_outputFormat == -3 ? 0xA6 : 0xA7);
    out.resize(size_t(n) + 4);
    return n + 4;
}

int WxWl3::Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                    int extra)
{
    if (!m_description || !m_fn || picture == nullptr || out == nullptr)
        return 0;
    uint8_t* d = m_description.get();
    if (!m_handle) {
        uint32_t flags = Load32(d + 24);
        flags = colour == 0 ? (flags | 0x4000000) : (flags & ~0x4000000u);
        Store32(d + 24, flags);
        int error = 0;
        if (!Open(d, error)) {
            QOR_LOG_ERROR(Logger(), "[WXWL] initialization failed. err(%d)\n", error);
            return 0;
        }
        m_fn->setEncDefault(m_encoderParameters);
    }
    std::memcpy(out, d, kHeaderLength);
    uint32_t flags = Load32(out + 24) & ~0x3000000u;
    if (key)
        flags |= 0x1000000;
    Store32(out + 24, flags);
    m_frameCounter = key ? 0 : m_frameCounter + 1;
    Store32(out + 20, uint32_t(m_frameCounter));
    m_encoderParameters[kFerrowenParamRate] = m_rates->Choose(qualityIndex, m_width, m_height);
    m_encoderParameters[kFerrowenParamExtra] = extra;
    FerrowenPlanes planes = MakePlanes(picture);
    if (m_fn->encode(m_handle, &planes, out, m_encoderParameters) <= 0)
        return 0;
    out[7] = 0x40;
    const uint32_t length = Load32(out + 4) & 0xFFFFFF;
    AppendTag(out + length, m_outputFormat == -3 ? 0xA6 : 0xA7);
    return int(length + 4);
}

// ---------------------------------------------------------------- 7.1

Wavelet71::Wavelet71(int width, int height, int encoderFlag, int outputFormat)
    : Wavelet(width, height, outputFormat), m_rates(std::make_unique<CompressionRates71>()),
      m_encoderFlag(encoderFlag)
{
    m_rates->Load(CompressionRates71::kKeyPath, 2, 50);
}

Wavelet71::~Wavelet71() = default;

int Wavelet71::Compress(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                        int)
{
    const int type = colour == 0 ? 0 : (m_outputFormat == -3 ? 1 : 2);
    // A change of colour needs a stream of the other layout.
    if (!m_encoder || type != m_encoderType) {
        m_encoder = std::make_unique<Wavelet71encoder>(m_width, m_height, m_encoderFlag, type);
        m_encoderType = type;
    }
    return m_encoder->Encode(picture, out, m_rates->Choose(qualityIndex, m_width), key);
}

Wavelet71encoder::Wavelet71encoder(int width, int height, int flag, int type)
    : m_width(width), m_height(height), m_type(type)
{
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
        return;
    m_buffer = std::make_unique<uint8_t[]>(size_t(width) * size_t(height) * 2 + kHeaderLength);
    uint8_t* d = m_buffer.get();
    std::memset(d, 0, kHeaderLength);
    Store32(d, kGuard);
    Store32(d + 4, uint32_t(width) * uint32_t(height) * 2);
    d[12] = kHeaderLength;
    Store16(d + 28, uint16_t(width));
    Store16(d + 30, uint16_t(height));
    uint32_t flags = type == 0 ? 0x824 : (type == 1 ? 0x814 : 0x804);
    if (flag)
        flags += 0x100;
    Store32(d + 24, flags);
    int error = 0;
    {
        SyncLock lock(Library71Lock());
        m_handle = DLL_WXW3CodecOpenEx(d, width, &error);
        if (m_handle && error != 0) {
            DLL_WXW3CodecClose(m_handle);
            m_handle = nullptr;
        }
    }
    if (!m_handle)
        QOR_LOG_ERROR(Logger(), "[WAVELET71] initialization failed. err(%d)", error);
}

Wavelet71encoder::~Wavelet71encoder()
{
    if (m_handle) {
        SyncLock lock(Library71Lock());
        DLL_WXW3CodecClose(m_handle);
    }
}

int Wavelet71encoder::Encode(const uint8_t* picture, uint8_t* out, int rate, int key)
{
    if (!m_buffer || !m_handle || picture == nullptr || out == nullptr)
        return 0;
    uint8_t* d = m_buffer.get();
    Store32(d + 4, uint32_t(m_width) * uint32_t(m_height) * 2);
    std::memcpy(out, d, kHeaderLength);
    uint32_t flags = Load32(out + 24) & ~0x3000000u;
    if (key)
        flags |= 0x1000000;
    Store32(out + 24, flags);
    int32_t parameters[kFerrowenParamCount];
    DLL_WXW3SetEncDefault(parameters);
    parameters[kFerrowenParamExtra] = 3;
    if (key) {
        m_frameCounter = 0;
    } else {
        ++m_frameCounter;
        rate *= 4;
    }
    parameters[kFerrowenParamRate] = rate;
    Store32(out + 20, uint32_t(m_frameCounter));
    const size_t area = size_t(m_width) * size_t(m_height);
    uint8_t* y = const_cast<uint8_t*>(picture);
    FerrowenPlanes planes{y, nullptr, nullptr, m_width, m_width, m_height, 0};
    if (m_type != 0) {
        planes.u = y + area;
        planes.v = y + (m_type == 1 ? area * 5 / 4 : area * 3 / 2);
    }
    if (DLL_WXW3CodecEncode(m_handle, &planes, out, parameters) <= 0)
        return 0;
    const uint32_t length = Load32(out + 4);
    AppendTag(out + length, m_type == 1 ? 0xAA : 0xAB);
    return int(length + 4);
}

Wavelet71decoder::Wavelet71decoder(const uint8_t* frameHeader)
{
    int error = 0;
    {
        SyncLock lock(Library71Lock());
        m_handle = DLL_WXW3CodecOpenEx(frameHeader, Load16(frameHeader + 28), &error);
        if (m_handle && error != 0) {
            DLL_WXW3CodecClose(m_handle);
            m_handle = nullptr;
        }
    }
    if (!m_handle)
        QOR_LOG_ERROR(Logger(), "[WAVELET71] initialization failed. err(%d)", error);
}

Wavelet71decoder::~Wavelet71decoder()
{
    if (m_handle) {
        SyncLock lock(Library71Lock());
        DLL_WXW3CodecClose(m_handle);
    }
}

uint32_t Wavelet71decoder::Decode(const uint8_t* frameHeader, uint8_t* picture, int width)
{
    if (!m_handle || frameHeader == nullptr)
        return 0;
    const uint32_t guard = Load32(frameHeader);
    if (guard != kGuard) {
        QOR_LOG_ERROR(Logger(), "[WAVWLET71] broken frame. Guard(%08X)", guard);
        return 0;
    }
    const int frameWidth = Load16(frameHeader + 28), frameHeight = Load16(frameHeader + 30);
    const uint32_t flags = Load32(frameHeader + 24);
    int32_t parameters[kFerrowenParamCount];
    DLL_WXW3SetDecDefault(parameters);
    parameters[kFerrowenParamLevel] = std::min(ReductionLevel(frameWidth, width), int(flags & 7));
    FerrowenPlanes planes{};
    if (picture) {
        const size_t area = size_t(frameWidth) * size_t(frameHeight);
        planes = {picture, picture + area,
                  picture + ((flags & 0x70) == 0x10 ? area * 5 / 4 : area * 3 / 2),
                  frameWidth, frameWidth, frameHeight, 0};
    }
    return DLL_WXW3CodecDecode(m_handle, &planes, frameHeader, parameters);
}

Wavelet71downscaler::Wavelet71downscaler(const uint8_t* frameHeader, int level) : m_level(level)
{
    int error = 0;
    SyncLock lock(Library71Lock());
    m_handle = DLL_WXW3CodecOpenDS(frameHeader, level, &error);
    if (m_handle && error != 0) {
        DLL_WXW3CodecCloseDS(m_handle);
        m_handle = nullptr;
    }
}

Wavelet71downscaler::~Wavelet71downscaler()
{
    if (m_handle) {
        SyncLock lock(Library71Lock());
        DLL_WXW3CodecCloseDS(m_handle);
    }
}

int Wavelet71downscaler::Downscale(uint8_t* buffer)
{
    if (!m_handle || buffer == nullptr)
        return 0;
    int status = 0;
    const int n = DLL_WXW3CodecDownscale(m_handle, buffer, &status);
    return status == 0 && n > 0 ? n : 0;
}

} // namespace wavelet
