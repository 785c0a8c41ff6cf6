#include "media/SupportedLenses.h"

namespace render {

std::vector<std::string> MakeSupportedLensList()
{
    return {"A0**V", "A1UST", "A8TRT", "B0QQV", "B4QQV", "B5SST", "B6SST"};
}

}  // namespace render
