# The frame compressor sits behind the archive writers' codec interface
# (archive/files/FrameCodecs.h), which lies below this library.
target_link_libraries(gavex_jpeg PUBLIC gavex_archive_files)
