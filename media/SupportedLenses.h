#pragma once
// The panomorph lenses the fisheye dewarping supports, by lens code.

#include <string>
#include <vector>

namespace render {

// In the order the stored lens types count them (type 3 is the first).
std::vector<std::string> MakeSupportedLensList();

}  // namespace render
