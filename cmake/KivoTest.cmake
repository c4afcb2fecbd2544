# kivo_tests builds what ctest runs and nothing else (no benches, no package):
# the programs a test starts are dependencies of that test.
if(NOT TARGET kivo_tests)
  add_custom_target(kivo_tests)
endif()

# kivo_add_test(<name> SOURCES <files...> LIBS <targets...>)
# One QtTest executable per area, run offscreen with a fixed locale.
function(kivo_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test kivo_warnings)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  add_dependencies(kivo_tests ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QTEST_DISABLE_STACK_DUMP=1;LANG=C.UTF-8;LC_ALL=C.UTF-8;KIVO_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# kivo_add_library(<name> <sources...> LIBS <targets...>): one static library per source folder.
function(kivo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE kivo_warnings)
endfunction()
