# The resize tests once more, with the resize code and what it calls compiled
# into the program under AddressSanitizer: reads past working buffers fail
# the run.
file(GLOB _asan_library_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/imaging/primitives/resize/*.cpp)
list(APPEND _asan_library_sources
  ${PROJECT_SOURCE_DIR}/imaging/primitives/AlignedMemory.cpp
  ${PROJECT_SOURCE_DIR}/imaging/primitives/CpuDispatch.cpp
  ${PROJECT_SOURCE_DIR}/imaging/primitives/VectorOps.cpp)
set(_asan_target test_imaging_primitives_resize_asan)
add_executable(${_asan_target} ${_asan_library_sources}
  ${CMAKE_CURRENT_LIST_DIR}/ResizeAlternateTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResizeCubicLanczosTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResizeEntryTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResizeExtendedTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResizeKernelTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResizeModelTest.cpp)
target_include_directories(${_asan_target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
target_compile_options(${_asan_target} PRIVATE -fsanitize=address -fno-omit-frame-pointer)
target_link_options(${_asan_target} PRIVATE -fsanitize=address)
target_link_libraries(${_asan_target} PRIVATE GTest::gtest_main Threads::Threads)
add_test(NAME "imaging/primitives:ResizeUnderAddressSanitizer" COMMAND ${_asan_target})
set_tests_properties("imaging/primitives:ResizeUnderAddressSanitizer" PROPERTIES
  ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1" TIMEOUT 600)
