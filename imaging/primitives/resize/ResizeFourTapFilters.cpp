// The four-tap filters of the primary set (portable bodies).
#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace resize_detail {

GAVEX_FOUR_TAP_FAMILY()

}  // namespace resize_detail
