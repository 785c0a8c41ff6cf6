# The codec add-on's manager library. It stands outside the player (loaded at
# run time by the decompressors), so it links nothing of ours and shares only
# the contract headers.
file(GLOB _harnway_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/addon/*.cpp)
add_library(Harnway SHARED ${_harnway_srcs})
target_include_directories(Harnway PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(Harnway PRIVATE PkgConfig::FFMPEG)
target_link_options(Harnway PRIVATE -Wl,--no-undefined)
set_target_properties(Harnway PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# The player finds the library beside itself: building the media library
# builds the add-on too.
add_dependencies(gavex_media Harnway)

include(${CMAKE_CURRENT_SOURCE_DIR}/addon/ferrowen/ferrowen.cmake)
