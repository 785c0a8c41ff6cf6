# Shared helpers for the folder libraries, the tests and the benchmarks.
#
# gavex_folder_library(<target> [SHARED] DEPS <targets...>)
#   Builds every .cpp below the calling folder into one library. Include paths
#   are relative to the repository root ("base/Locks.h"). A folder that holds
#   only headers becomes an INTERFACE library. Subfolders with a
#   CMakeLists.txt of their own are left to it. A folder may add its own rules
#   in extra.cmake, included after the library is defined.
function(gavex_folder_library target)
  cmake_parse_arguments(ARG "SHARED" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  list(FILTER srcs EXCLUDE REGEX "/(addon|tools)/")
  # A subfolder with its own CMakeLists.txt is a library of its own.
  file(GLOB_RECURSE subprojects CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(sub IN LISTS subprojects)
    get_filename_component(subdir ${sub} DIRECTORY)
    list(FILTER srcs EXCLUDE REGEX "^${subdir}/")
  endforeach()
  list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  if(srcs)
    if(ARG_SHARED)
      add_library(${target} SHARED ${srcs})
    else()
      add_library(${target} STATIC ${srcs})
    endif()
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/extra.cmake)
    include(${CMAKE_CURRENT_SOURCE_DIR}/extra.cmake)
  endif()
endfunction()

# gavex_folder_tests(<folder> <library targets...>)
#   One GoogleTest executable per test folder from every .cpp directly in it.
#   A main.cpp in the folder replaces gtest_main. Cases are discovered when
#   CTest runs, so `ctest -N` lists every test case. A folder may add helper
#   programs in extra.cmake (variable GAVEX_TEST_TARGET names the test).
function(gavex_folder_tests folder)
  set(dir ${PROJECT_SOURCE_DIR}/tests/${folder})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  string(REPLACE "/" "_" name "test_${folder}")
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  if(EXISTS ${dir}/main.cpp)
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock gavex_testsupport)
  else()
    target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest_main GTest::gmock gavex_testsupport)
  endif()
  target_compile_definitions(${name} PRIVATE
    GAVEX_TEST_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}"
    GAVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # Helper programs the tests start (child processes, library hosts):
  # tests/<folder>/tools/<prog>.cpp becomes the executable <prog> in the test's
  # binary folder, linked like the test; GAVEX_TEST_TOOLS_DIR points there.
  file(GLOB tools CONFIGURE_DEPENDS ${dir}/tools/*.cpp)
  foreach(tool IN LISTS tools)
    get_filename_component(prog ${tool} NAME_WE)
    add_executable(${prog} ${tool})
    target_include_directories(${prog} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${prog} PRIVATE ${ARGN})
    set_target_properties(${prog} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/tools)
    add_dependencies(${name} ${prog})
  endforeach()
  target_compile_definitions(${name} PRIVATE GAVEX_TEST_TOOLS_DIR="${CMAKE_CURRENT_BINARY_DIR}/tools")
  set(GAVEX_TEST_TARGET ${name})
  if(EXISTS ${dir}/extra.cmake)
    include(${dir}/extra.cmake)
  endif()
  # Listing the cases runs the program before any test property applies: a
  # sanitizer build starts it (and so its cases) with the sanitizer options.
  if(GAVEX_SANITIZER_ENV)
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${GAVEX_SANITIZER_ENV})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_PREFIX "${folder}:")
  # The cases' environment. gtest_discover_tests hands each property one value
  # only (a second one would become a property name), so CTest sets the list on
  # the discovered cases itself, from a script read after the discovery.
  _gavex_sanitizer_modifications(sanitizer)
  set(environment "QT_QPA_PLATFORM=set:offscreen" "GAVEX_REGISTRY_DIR=set:${PROJECT_BINARY_DIR}/test-registry"
      "XDG_DATA_HOME=set:${PROJECT_BINARY_DIR}/test-data" ${sanitizer})
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
  file(WRITE ${script}
       "if(${name}_TESTS)\n"
       "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT_MODIFICATION [==[${environment}]==])\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# GAVEX_SANITIZER_ENV (VAR=value, for `cmake -E env`) as CTest environment
# modifications (VAR=set:value).
function(_gavex_sanitizer_modifications out)
  set(modifications "")
  foreach(variable IN LISTS GAVEX_SANITIZER_ENV)
    string(FIND "${variable}" "=" at)
    string(SUBSTRING "${variable}" 0 ${at} name)
    math(EXPR at "${at} + 1")
    string(SUBSTRING "${variable}" ${at} -1 value)
    list(APPEND modifications "${name}=set:${value}")
  endforeach()
  set(${out} ${modifications} PARENT_SCOPE)
endfunction()

# gavex_sanitizer_test_environment()
#   In a sanitizer build, gives every test added so far in the calling folder
#   with add_test the sanitizer options (the GoogleTest cases get them in
#   gavex_folder_tests). Called at the end of a folder's test list.
function(gavex_sanitizer_test_environment)
  _gavex_sanitizer_modifications(modifications)
  if(NOT modifications)
    return()
  endif()
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT_MODIFICATION ${modifications})
  endforeach()
endfunction()

# gavex_folder_bench(<folder> <library targets...>)
#   One Google Benchmark executable per bench folder.
function(gavex_folder_bench folder)
  set(dir ${PROJECT_SOURCE_DIR}/bench/${folder})
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  string(REPLACE "/" "_" name "bench_${folder}")
  add_executable(${name} ${srcs})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARGN} benchmark::benchmark_main)
  target_compile_definitions(${name} PRIVATE GAVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(EXISTS ${dir}/extra.cmake)
    include(${dir}/extra.cmake)
  endif()
endfunction()
