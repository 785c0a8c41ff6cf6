// The cubic and Lanczos filters of the alternate set (portable bodies).
#include "imaging/primitives/resize/detail/CubicLanczosFilters.h"

namespace resize_detail {

GAVEX_ALT_CUBIC_FAMILY()
GAVEX_ALT_LANCZOS_FAMILY()

}  // namespace resize_detail
