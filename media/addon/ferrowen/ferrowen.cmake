# The three wavelet codec libraries. They stand outside the player (3.5 and
# 6.5 are opened by name at run time, 7.1 is linked) and share only the
# calling contract media/FerrowenContract.h.
set(_fw_dir ${CMAKE_CURRENT_LIST_DIR})
foreach(_fw IN ITEMS Ferrowen3_64 Ferrowen7_64 Ferrowen3S140321)
  if(_fw STREQUAL "Ferrowen3_64")
    set(_fw_main ${_fw_dir}/Ferrowen3.cpp)
  elseif(_fw STREQUAL "Ferrowen7_64")
    set(_fw_main ${_fw_dir}/Ferrowen7.cpp ${_fw_dir}/WxwlFrame.cpp)
  else()
    set(_fw_main ${_fw_dir}/Ferrowen3S.cpp ${_fw_dir}/WxwlFrame.cpp)
  endif()
  add_library(${_fw} SHARED ${_fw_dir}/WaveletCore.cpp ${_fw_main})
  target_include_directories(${_fw} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${_fw} PRIVATE ZLIB::ZLIB)
  # The codec's loops are meant to be vectorised.
  target_compile_options(${_fw} PRIVATE -O3)
  if(NOT GAVEX_SHARED_LIBS_NEED_PROGRAM)
    target_link_options(${_fw} PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${_fw} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endforeach()
# 7.1 is linked; 3.5 and 6.5 are found beside it (the program's folder or the
# linked library's run path) when the decompressors open them.
target_link_libraries(gavex_media PUBLIC Ferrowen3S140321)
add_dependencies(gavex_media Ferrowen3_64 Ferrowen7_64)
