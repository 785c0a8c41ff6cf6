// The extended linear and four-tap filters of the alternate set that are not
// their twins (portable bodies).
#include "imaging/primitives/resize/detail/ExtendedFilters.h"

namespace resize_detail {

GAVEX_ALT_EXTENDED_FAMILY()

}  // namespace resize_detail
