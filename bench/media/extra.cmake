# The wavelet benchmark sets zlib's own uncompress beside the decoders.
target_link_libraries(${name} PRIVATE ZLIB::ZLIB)
