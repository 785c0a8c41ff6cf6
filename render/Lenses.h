#pragma once
// The one table of lens types: the numbers the camera settings store, the
// texts an exported file's description names them by, and the panomorph lens
// codes the dewarper hands to the lens library. The renderer, the settings
// panel and the media-file records all read it, so a lens named in a file is
// the lens drawn and the lens offered under that name.
//
// Types: 0 none, 1 "Standart" fisheye (circle given or estimated),
// 2 "AutoCalibrated" fisheye (circle given or found), 3 and up the panomorph
// codes from "A1UST" on, in list order. The list's first code has no type:
// the settings have always stored type 3 for "A1UST".
#include <cstdint>
#include <string>
#include <vector>

namespace render {

// Every panomorph code the lens library knows, first one included.
const std::vector<std::string>& SupportedLensList();

inline constexpr int32_t kLensNone = 0;
inline constexpr int32_t kLensFisheye = 1;
inline constexpr int32_t kLensFisheyeCalibrated = 2;
inline constexpr int32_t kFirstPanomorphLens = 3;

// The type of a lens text; 0 for an empty or unknown text. Exact match.
int32_t LensTypeOfText(const std::string& text);
// The panomorph code of a type, or empty when the type is not a panomorph
// lens.
std::string PanomorphLensCode(int32_t type);

}  // namespace render
