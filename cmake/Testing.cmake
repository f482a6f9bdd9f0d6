include(GoogleTest)

# dk_add_test(NAME SOURCES ... LIBS ...): one GoogleTest executable, its cases registered with ctest.
# Tests run with their own folder as working directory so data files resolve by relative path; their
# main (tests/support/TestMain.cpp) sets the environment they need, whatever the caller's.
function(dk_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock dk_test_main)
  target_compile_definitions(${name} PRIVATE
    DK_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DK_BINARY_DIR="${PROJECT_BINARY_DIR}"
    DK_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60)
endfunction()
