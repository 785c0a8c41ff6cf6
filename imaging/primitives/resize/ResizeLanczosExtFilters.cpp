// The extended Lanczos filters of the primary set (portable bodies).
#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace resize_detail {

GAVEX_SIX_TAP_RING_FAMILY()

}  // namespace resize_detail
