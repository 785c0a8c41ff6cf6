#pragma once
// Puts the media layer's decompressor behind the archive writers' codec
// interface (archive/files/FrameCodecs.h). Called once at start-up.

void InstallMediaFrameCodecs();
