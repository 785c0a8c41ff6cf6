#include "archive/files/DynamicFramesReader.h"

#include "archive/files/FramesReaderCached.h"
#include "archive/files/FramesReaderFile.h"
#include "archive/files/FramesReaderIndexed.h"
#include "archive/files/NullFramesReader.h"
#include "archive/files/VideoFileFormat.h"
#include "base/Log.h"

#include <boost/function.hpp>

#include <map>
#include <stdexcept>

namespace {

IFramesReader* CreateNullFramesReader(bool)
{
    return new NullFramesReader();
}

IFramesReader* CreateFramesReaderCached(bool cachePFrames)
{
    return new FramesReaderCached(cachePFrames);
}

IFramesReader* CreateFramesReaderIndexedSimple(bool)
{
    return new FramesReaderIndexedSimple();
}

IFramesReader* CreateFramesReaderIndexedPortable(bool)
{
    return new FramesReaderIndexedPortable();
}

// Reader type key -> factory; fixed for the life of the process.
const std::map<int, boost::function<IFramesReader*(bool)>> kReaderFactories = {
    {kReaderNull, &CreateNullFramesReader},
    {kReaderCached, &CreateFramesReaderCached},
    {kReaderIndexedSimple, &CreateFramesReaderIndexedSimple},
    {kReaderIndexedPortable, &CreateFramesReaderIndexedPortable},
};

struct CloseThenDelete {
    void operator()(IFramesReader* reader) const
    {
        reader->Close();
        delete reader;
    }
};

} // namespace

std::shared_ptr<IFramesReader> CreateFramesReaderOfType(int key, bool cachePFrames)
{
    const auto it = kReaderFactories.find(key);
    if (it == kReaderFactories.end())
        throw std::logic_error("DynamicFramesReader: incorrect video file type");
    // An empty entry throws boost::bad_function_call.
    return std::shared_ptr<IFramesReader>(it->second(cachePFrames), CloseThenDelete());
}

DynamicFramesReader::DynamicFramesReader(bool cachePFrames)
    : m_reader(std::make_shared<NullFramesReader>())
    , m_cachePFrames(cachePFrames)
{
}

DynamicFramesReader::~DynamicFramesReader() = default;

bool DynamicFramesReader::Open(const std::string& path, int32_t wantedId)
{
    // One open serves the type detection and the reader.
    FramesReaderFile file(0);
    file.Open(path, platform::File::modeRead | platform::File::shareDenyWrite | platform::File::typeBinary);
    return Open(path, wantedId, file);
}

bool DynamicFramesReader::Open(const std::string& path, int32_t wantedId, FramesReaderFile& file)
{
    const int key = detectVideoFileType(file);
    if (key == kReaderNull) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "Unknown video file %s", path.c_str());
        return false;
    }
    if (key != m_reader->GetReaderType())
        m_reader = CreateFramesReaderOfType(key, m_cachePFrames);
    if (m_reader->Open(path, wantedId, file))
        return true;

    QOR_LOG_ERROR(getDefaultDebugInstance(),
                  "Failed to open file %s using native reader (type = %d), opening using default reader", path.c_str(),
                  key);
    m_reader = CreateFramesReaderOfType(kReaderCached, m_cachePFrames);
    return m_reader->Open(path, wantedId);
}
