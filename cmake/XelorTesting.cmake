# xelor_add_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [ARGS ...] [OWN_MAIN])
#
# OWN_MAIN: the sources bring their own main() (QtTest); GoogleTest is still linked.
# ARGS: added to the test's command line.
#
# One GoogleTest executable registered as one CTest test. Labels in use:
#   threaded  also run in the TSan build (core, link, runtime)
#   timing    checks protocol delays as lower bounds; plain build only
#   console   Qt console tests (offscreen)
#   faults    fault-injection suite against xelsim
#   soak      long run, only through `make soak`
# Every test gets its own empty XDG_CONFIG_HOME so it never touches the user's state,
# and its own empty XELOR_SYSTEM_ROOT so what a package installed on this machine
# (machine registry, /etc/xelor/ports) never leaks into it.
function(xelor_add_test)
  cmake_parse_arguments(T "OWN_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT T_OWN_MAIN)
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
  endif()
  # The TSan build runs only the threaded tests: the others are not even built there.
  if(XELOR_SANITIZE STREQUAL "thread" AND NOT "threaded" IN_LIST T_LABELS)
    set_target_properties(${T_NAME} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
  set(sysroot ${CMAKE_BINARY_DIR}/test-system/${T_NAME})
  # Fresh, empty state folders for every run.
  add_test(NAME ${T_NAME}
           COMMAND /bin/sh -c "rm -rf '${home}' '${sysroot}' && mkdir -p '${home}' '${sysroot}' && exec \"$0\" \"$@\"" $<TARGET_FILE:${T_NAME}> ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "XDG_CONFIG_HOME=${home};XELOR_SYSTEM_ROOT=${sysroot};QT_QPA_PLATFORM=offscreen")
  foreach(cost IN LISTS XELOR_TEST_COSTS)
    if(cost MATCHES "^${T_NAME}=([0-9]+)$")
      set_tests_properties(${T_NAME} PROPERTIES COST ${CMAKE_MATCH_1})
    endif()
  endforeach()
endfunction()
