# Beside the skin the build draws into Resources/.
set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
add_dependencies(${name} gavex_skin)
