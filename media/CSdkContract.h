// The calling contract between the program and the codec add-on's manager
// library (libHarnway.so). Both sides include this header; the slot order of
// every interface, the argument order and the widths are fixed by the
// contract, so operations are declared in slot order and nothing may be
// inserted between them.
//
// Ownership:
// - The manager is handed out as a std::shared_ptr filled by the library's
//   entry point; its control block lives in the library, so the last copy
//   must be dropped before the library is unloaded.
// - A converter belongs to whoever created it and is destroyed only through
//   Release(); it never outlives the manager library.
// - Convert() returns a new buffer made through the frame factory given at
//   the converter's creation; the caller owns it and calls Destroy(). The
//   input buffer stays the caller's.
// - The logger handed to GetHarnwaySL belongs to the program and lives until
//   the process ends.
#pragma once

#include <cstdint>
#include <memory>

#include "base/QorLoggerContract.h"
#include "base/frames/Mff.h"

namespace CSDK {

// Turns one buffer format into another (a compressed stream into pictures,
// or one compressed form into another). One converter serves one stream and
// keeps its decoder state between calls; it is used by one thread at a time.
class GAVEX_SDK_VISIBLE IMediaConverter
{
public:
    // Slot 0: the conversion of `input` (not taken over), or null when there is
    // no output for it (an error, or a picture the decoder still holds back).
    // `width` is the width the caller wants (0: full size); a converter may
    // deliver a larger picture. May throw a standard exception.
    // An input of size 0 ends the stream: the result is the next picture the
    // decoder still holds (null when none is left; call again until null),
    // and the frames that follow start a new stream.
    virtual MFF::IMultimediaBuffer* Convert(MFF::ICompressedBuffer* input, int32_t width) = 0;
    // Slot 1: forgets the decoder state (a new stream follows).
    virtual void Reset() = 0;
    // Slot 2: destroys the converter.
    virtual void Release() = 0;

protected:
    ~IMediaConverter() = default;
};

class GAVEX_SDK_VISIBLE IMediaConverter2 : public IMediaConverter
{
public:
    // Slot 3: false when the converter's codec cannot handle this stream.
    virtual bool IsSupported(MFF::ICompressedBuffer* input, int32_t width) = 0;

protected:
    ~IMediaConverter2() = default;
};

// The manager: creates converters by output format name.
class GAVEX_SDK_VISIBLE IHarnway
{
public:
    // Slot 0: the manager viewed as the named contract ("CSDK::IHarnway2"), or null.
    virtual void* QueryContract(const char* name) = 0;
    // Slot 1: a converter to `output` whose results are made through `factory`
    // (which must outlive the converter); null when none can be made.
    virtual IMediaConverter* CreateConverter(const char* output,
                                             MFF::IMultimediaFrameFactory* factory) = 0;
    // Slot 2.
    virtual ~IHarnway() = default;
};

class GAVEX_SDK_VISIBLE IHarnway2 : public IHarnway
{
public:
    using IHarnway::CreateConverter;
    // Slot 3: as above, preferring the named codec implementation ("" for the
    // default choice).
    virtual IMediaConverter* CreateConverter(const char* output,
                                             MFF::IMultimediaFrameFactory* factory,
                                             const char* preferredCodec) = 0;
};

inline constexpr const char* kHarnway2Contract = "CSDK::IHarnway2";

// Entry points exported by the manager library (C linkage). `folder` is null
// or the folder the library was loaded from, ending in a path separator.
using GetHarnwaySLFn = void (*)(std::shared_ptr<IHarnway>* result, const char* folder,
                                QOR8::ILogger* logger);
using GetHarnwaySFn = void (*)(std::shared_ptr<IHarnway>* result, const char* folder);

inline constexpr const char* kGetHarnwaySLName = "GetHarnwaySL";
inline constexpr const char* kGetHarnwaySName = "GetHarnwayS";

} // namespace CSDK
