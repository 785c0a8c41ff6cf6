# The recorder tests record raw frames through the product's frame compressor.
target_link_libraries(${GAVEX_TEST_TARGET} PRIVATE gavex_jpeg)
