// The extended linear filters of the primary set (portable bodies).
#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace resize_detail {

GAVEX_EXTENDED_LINEAR_FAMILY()

}  // namespace resize_detail
