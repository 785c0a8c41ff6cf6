#include "render/Lenses.h"

namespace render {

namespace {

// Index in SupportedLensList of the code type kFirstPanomorphLens names.
constexpr std::size_t kFirstTypedCode = 1;

}  // namespace

const std::vector<std::string>& SupportedLensList()
{
    static const std::vector<std::string> list{"A0**V", "A1UST", "A8TRT", "B0QQV", "B4QQV", "B5SST", "B6SST"};
    return list;
}

int32_t LensTypeOfText(const std::string& text)
{
    if (text == "Standart")
        return kLensFisheye;
    if (text == "AutoCalibrated")
        return kLensFisheyeCalibrated;
    const std::vector<std::string>& codes = SupportedLensList();
    for (std::size_t i = kFirstTypedCode; i < codes.size(); ++i)
        if (codes[i] == text)
            return kFirstPanomorphLens + static_cast<int32_t>(i - kFirstTypedCode);
    return kLensNone;
}

std::string PanomorphLensCode(int32_t type)
{
    if (type < kFirstPanomorphLens)
        return std::string();
    const std::size_t index = static_cast<std::size_t>(type - kFirstPanomorphLens) + kFirstTypedCode;
    const std::vector<std::string>& codes = SupportedLensList();
    return index < codes.size() ? codes[index] : std::string();
}

}  // namespace render
