#include "media/SourceSelection.h"

#include "platform/TextCodec.h"

std::string SourceSelectionSettings::GetSourcePaths() const
{
    std::string joined;
    const auto it = videoFolders.find(sourceMode);
    if (it == videoFolders.end())
        return joined;
    for (size_t i = 0; i < it->second.size(); ++i) {
        if (i > 0)
            joined += '|';
        joined += platform::WideToUtf8(it->second[i]);
    }
    return joined;
}

SourceSelectionSettings& GetSourceSelectionSettings()
{
    static SourceSelectionSettings settings;
    return settings;
}
