# The decoding tests load the codec add-on built by the project, and a
# misbehaving stand-in of it (fakeaddon/) from a folder of its own.
add_library(media_fake_harnway SHARED ${CMAKE_CURRENT_LIST_DIR}/fakeaddon/FakeHarnway.cpp)
target_include_directories(media_fake_harnway PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(media_fake_harnway PROPERTIES
  OUTPUT_NAME Harnway
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/media_fake_harnway
  CXX_VISIBILITY_PRESET hidden)
if(GAVEX_SANITIZE OR GAVEX_FUZZ)
  target_compile_options(media_fake_harnway PRIVATE -fno-sanitize=vptr)
endif()
add_dependencies(${GAVEX_TEST_TARGET} Harnway media_fake_harnway)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE
  GAVEX_ADDON_DIR="$<TARGET_FILE_DIR:Harnway>"
  GAVEX_FAKE_ADDON_DIR="${CMAKE_CURRENT_BINARY_DIR}/media_fake_harnway")
# Run with only the linked wavelet library in reach (no run path to the
# build folder, where the libraries opened by name lie).
set_target_properties(wavelet_nolibs PROPERTIES SKIP_BUILD_RPATH TRUE)
target_compile_definitions(${GAVEX_TEST_TARGET} PRIVATE
  GAVEX_WAVELET71_LIBRARY="$<TARGET_FILE:Ferrowen3S140321>")
