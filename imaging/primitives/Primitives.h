#pragma once
// Everything of the image primitives library that other folders call.
#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/BitDepth.h"
#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/ImageCopy.h"
#include "imaging/primitives/PrimitiveTypes.h"
#include "imaging/primitives/VectorOps.h"
#include "imaging/primitives/resize/Resize.h"
#include "imaging/primitives/Yuv420ToRgb.h"
// JPEG colour, chroma rows, transforms and entropy coding.
#include "imaging/primitives/ChromaRows.h"
#include "imaging/primitives/ForwardDct.h"
#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/JpegColor.h"
#include "imaging/primitives/PackedYuv.h"
#include "imaging/primitives/QuantTables.h"
