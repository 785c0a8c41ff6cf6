// The extended Lanczos filters of the alternate set (portable bodies).
#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace resize_detail {

GAVEX_ALT_SIX_TAP_RING_FAMILY()

}  // namespace resize_detail
