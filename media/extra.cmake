# The codec add-on's manager library. It stands outside the player (loaded at
# run time by the decompressors), so it links nothing of ours and shares only
# the contract headers.
file(GLOB _harnway_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/addon/*.cpp)
add_library(Harnway SHARED ${_harnway_srcs})
target_include_directories(Harnway PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(Harnway PRIVATE PkgConfig::FFMPEG)
# The add-on carries no fuzzer coverage counters: it stands for a component
# outside the program, and the fuzzers explore the program.
if(GAVEX_FUZZ)
  target_compile_options(Harnway PRIVATE -fno-sanitize=fuzzer-no-link)
endif()
if(NOT GAVEX_SHARED_LIBS_NEED_PROGRAM)
  target_link_options(Harnway PRIVATE -Wl,--no-undefined)
endif()
set_target_properties(Harnway PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# The player finds the library beside itself: building the media library
# builds the add-on too.
add_dependencies(gavex_media Harnway)
# The add-on sees the program's objects only through the contract's
# interfaces, without the program's type information: the vptr check would
# refuse every call across that boundary.
if(GAVEX_SANITIZE OR GAVEX_FUZZ)
  target_compile_options(Harnway PRIVATE -fno-sanitize=vptr)
endif()

include(${CMAKE_CURRENT_SOURCE_DIR}/addon/ferrowen/ferrowen.cmake)
