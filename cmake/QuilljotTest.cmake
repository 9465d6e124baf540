# add_quilljot_test(NAME SOURCES... LIBS ...): one QtTest executable registered with CTest, run
# headless with a fixed UTF-8 locale; a run that skipped cases (a real part missing) is reported
# as skipped (run-qtest).
function(add_quilljot_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE quilljot_common Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/cmake/run-qtest $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${QUILLJOT_TEST_ENV}" TIMEOUT 300
    SKIP_RETURN_CODE 77)
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()
