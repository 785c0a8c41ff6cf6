# The test codecs call FFmpeg and build frames of the base library.
target_link_libraries(gavex_testsupport PUBLIC gavex_base PkgConfig::FFMPEG)
