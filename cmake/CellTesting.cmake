# Every test binary runs each of its cases in fresh IPC, mount and network
# namespaces (see tests/isolate), so the fixed global names of the system
# (segments, the logging queue, UDP port 500) never collide between tests.
set(CELL_ISOLATE ${CMAKE_SOURCE_DIR}/tests/isolate)

function(cell_add_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR ${CELL_ISOLATE})
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()
