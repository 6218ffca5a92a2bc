# rk_test(NAME SOURCES... LIBS ... [LABELS ...]) makes one GoogleTest program and registers its tests.
# Tests run with the program folder as working directory and a private settings and card folder.
function(rk_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_options(${name} PRIVATE ${RK_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${RK_BIN_DIR})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${RK_BIN_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${A_LABELS}"
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RK_TEST_DATA=${CMAKE_BINARY_DIR}/testdata;RK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
