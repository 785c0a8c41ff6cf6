#pragma once
// Vector kernel sets of the linear filters (none in this build yet).
#define GAVEX_RESIZE_HAS_SIMD 0
