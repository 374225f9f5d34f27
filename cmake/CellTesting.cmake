# Every test binary runs each of its cases in fresh IPC, mount and network
# namespaces (see tests/isolate), so the fixed global names of the system
# (segments, the logging queue, UDP port 500) never collide between tests.
#
# Logging queues of 1000 messages count against one per-user limit of queue
# memory that namespaces do not separate (RLIMIT_MSGQUEUE: about seven such
# queues for root). Binaries whose cases create one (every case that starts
# rtframe) say FRAMEWORK_QUEUE and take a slot of the "mqueue" resource
# declared in tests/resources.json, so a parallel run never exceeds it.
#
# Binaries whose cases run all their code in the test process (no program
# started) say IN_PROCESS: they carry the label "in_process", which the
# ThreadSanitizer build of scripts/test runs, and are collected in the target
# in_process_tests.
set(CELL_ISOLATE ${CMAKE_SOURCE_DIR}/tests/isolate)
# Binaries that say TWO_BOARDS run under tests/isolate_pair instead: a second
# board in namespaces of its own, joined by a veth pair; each of their cases
# starts an rtframe on both boards and takes two "mqueue" slots.
set(CELL_ISOLATE_PAIR ${CMAKE_SOURCE_DIR}/tests/isolate_pair)

function(cell_add_gtest target)
  cmake_parse_arguments(ARG "FRAMEWORK_QUEUE;IN_PROCESS;TWO_BOARDS;SERIAL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(ARG_TWO_BOARDS)
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR ${CELL_ISOLATE_PAIR})
  else()
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR ${CELL_ISOLATE})
  endif()
  set(properties TIMEOUT 300)
  if(ARG_TWO_BOARDS)
    list(APPEND properties RESOURCE_GROUPS "mqueue:2")
  elseif(ARG_FRAMEWORK_QUEUE)
    list(APPEND properties RESOURCE_GROUPS "mqueue:1")
  endif()
  # Cases that hold a real-time cycle of a millisecond run alone: a fully
  # loaded machine delays that cycle past what the bus tolerates.
  if(ARG_SERIAL)
    list(APPEND properties RUN_SERIAL TRUE)
  endif()
  if(ARG_IN_PROCESS)
    list(APPEND properties LABELS in_process)
    set_property(GLOBAL APPEND PROPERTY CELL_IN_PROCESS_TESTS ${target})
  endif()
  if(CELL_SANITIZE_THREAD)
    list(APPEND properties ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp second_deadlock_stack=1")
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
