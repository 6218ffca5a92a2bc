# rk_test(NAME SOURCES... LIBS ... [LABELS ...]) makes one GoogleTest program and registers its tests.
# Tests run with the program folder as working directory and a private settings and card folder.
# Every test also carries its folder's kind (RK_TEST_KIND, set in tests/CMakeLists.txt) as a label.
function(rk_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} rk_test_support GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_options(${name} PRIVATE ${RK_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${RK_BIN_DIR})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  list(APPEND A_LABELS ${RK_TEST_KIND})
  list(REMOVE_DUPLICATES A_LABELS)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${RK_BIN_DIR}
    DISCOVERY_TIMEOUT 60
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT ${A_TIMEOUT})
  # gtest_discover_tests flattens list-valued properties, so the environment
  # and the labels are set by a file that ctest reads after the discovered tests.
  set(env "QT_QPA_PLATFORM=offscreen;RK_TEST_DATA=${CMAKE_BINARY_DIR}/testdata;RK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  set(envfile ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
  file(WRITE ${envfile}
    "if(DEFINED ${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==] LABELS [==[${A_LABELS}]==])\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${envfile})
endfunction()
