# The marker search as a whole program, measured beside grep.
add_executable(gavex_marker_scan ${CMAKE_CURRENT_LIST_DIR}/tools/marker_scan.cpp)
target_link_libraries(gavex_marker_scan PRIVATE gavex_config)
add_dependencies(${name} gavex_marker_scan)
target_compile_definitions(${name} PRIVATE GAVEX_MARKER_SCAN="$<TARGET_FILE:gavex_marker_scan>")
