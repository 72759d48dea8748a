# bd_test(name SOURCES ... DEPS ... [ENV VAR=VALUE ...] [LABELS ...] [TIMEOUT s]):
# one GoogleTest executable, its tests discovered by ctest when it runs.
find_package(GTest REQUIRED)
include(GoogleTest)

set(BD_TEST_ENV
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "QT_QPA_PLATFORM=offscreen"
  "BD_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
  "BD_BINARY_DIR=${PROJECT_BINARY_DIR}")

function(bd_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;ENV;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main bd_options)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  # The environment is given by running each test through "cmake -E env": a list-valued
  # ENVIRONMENT property does not survive test discovery (only its first entry would arrive, and
  # the properties after it would be lost).
  set_target_properties(${name} PROPERTIES
    CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${BD_TEST_ENV};${ARG_ENV}")
  set(properties TIMEOUT ${ARG_TIMEOUT})
  if(ARG_LABELS)
    string(REPLACE ";" "\\;" labels "${ARG_LABELS}")
    list(APPEND properties LABELS "${labels}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()
