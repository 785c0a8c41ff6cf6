# The export as a whole program (bench/export/tools), set beside ffmpeg and cp.
add_executable(export_bench_run ${CMAKE_CURRENT_LIST_DIR}/tools/export_bench_run.cpp)
target_include_directories(export_bench_run PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(export_bench_run PRIVATE gavex_export)
add_dependencies(${name} export_bench_run)
target_compile_definitions(${name} PRIVATE GAVEX_EXPORT_RUN="$<TARGET_FILE:export_bench_run>")
