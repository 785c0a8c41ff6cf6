// The manager of the add-on and the library's entry points.
//
// Converters by output name:
//   "YUV4xx"  planar YUV 4:2:0 (or 4:2:2 when the stream is 4:2:2) pictures
//             decoded through libavcodec (PictureConverter);
//   "H264"    the base layer of scalable H.264 (SvcBaseLayerConverter).
// Any other output name gives no converter.
#include <cstring>
#include <memory>
#include <string>

#include "media/CSdkContract.h"
#include "media/addon/AddonLog.h"
#include "media/addon/PictureConverter.h"
#include "media/addon/SvcBaseLayer.h"

namespace harnway {

namespace {

class Manager final : public CSDK::IHarnway2
{
public:
    explicit Manager(const char* folder) : m_folder(folder ? folder : "") {}

    void* QueryContract(const char* name) override
    {
        if (!name)
            return nullptr;
        if (std::strcmp(name, CSDK::kHarnway2Contract) == 0 ||
            std::strcmp(name, "CSDK::IHarnway") == 0)
            return static_cast<CSDK::IHarnway2*>(this);
        return nullptr;
    }

    CSDK::IMediaConverter* CreateConverter(const char* output,
                                           MFF::IMultimediaFrameFactory* factory) override
    {
        return CreateConverter(output, factory, "");
    }

    CSDK::IMediaConverter* CreateConverter(const char* output, MFF::IMultimediaFrameFactory* factory,
                                           const char* preferredCodec) override
    {
        if (!output || !factory)
            return nullptr;
        const std::string preferred = preferredCodec ? preferredCodec : "";
        if (std::strcmp(output, "YUV4xx") == 0) {
            if (!preferred.empty())
                Log(QOR8::LogTrace, "[HARNWAY] Codec %s is not known, using libavcodec",
                    preferred.c_str());
            return new PictureConverter(factory);
        }
        if (std::strcmp(output, "H264") == 0)
            return new SvcBaseLayerConverter(factory);
        Log(QOR8::LogWarning, "[HARNWAY] No converter to \"%s\"", output);
        return nullptr;
    }

private:
    std::string m_folder;
};

void MakeManager(std::shared_ptr<CSDK::IHarnway>* result, const char* folder)
{
    if (!result)
        return;
    try {
        *result = std::make_shared<Manager>(folder);
    } catch (...) {
        result->reset();
    }
}

} // namespace

} // namespace harnway

extern "C" GAVEX_SDK_VISIBLE void GetHarnwaySL(std::shared_ptr<CSDK::IHarnway>* result,
                                               const char* folder, QOR8::ILogger* logger)
{
    harnway::SetLogger(logger);
    harnway::MakeManager(result, folder);
}

extern "C" GAVEX_SDK_VISIBLE void GetHarnwayS(std::shared_ptr<CSDK::IHarnway>* result,
                                              const char* folder)
{
    harnway::MakeManager(result, folder);
}
