# The one way a test enters the suite. dialcred_add_test builds a test
# program, links GoogleTest (or nothing, for a plain C program), labels its
# tests unit (no server) or live (rpcbind and the servers), and in the
# sanitizer build gives each test the sanitizer settings with the suite's
# leak suppressions; the fixtures pass them on to the programs a test starts.
find_package(GTest REQUIRED)
include(GoogleTest)

set(DIALCRED_TEST_ENVIRONMENT
  # Full stacks on allocation, so that a suppression can name its function
  # and hides nothing of ours.
  "ASAN_OPTIONS=fast_unwind_on_malloc=0:detect_leaks=1"
  "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# dialcred_add_test(NAME SOURCES src... LIBS lib... LABEL unit|live
#                   [TIMEOUT seconds] [DEFINES def...]
#                   [OWN_MAIN]         the program has its own main (links GTest::gtest)
#                   [C_TEST test-name] a plain program: one test of that name, no GoogleTest)
function(dialcred_add_test name)
  cmake_parse_arguments(PARSE_ARGV 1 T "OWN_MAIN" "LABEL;TIMEOUT;C_TEST" "SOURCES;LIBS;DEFINES")
  if(NOT T_LABEL MATCHES "^(unit|live)$")
    message(FATAL_ERROR "dialcred_add_test(${name}): LABEL unit or live")
  endif()
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE ${T_DEFINES})
  dialcred_warnings(${name})
  set(props LABELS ${T_LABEL})
  if(T_TIMEOUT)
    list(APPEND props TIMEOUT ${T_TIMEOUT})
  endif()
  if(T_C_TEST)
    target_link_libraries(${name} PRIVATE ${T_LIBS})
    add_test(NAME ${T_C_TEST} COMMAND ${name})
    set_tests_properties(${T_C_TEST} PROPERTIES ${props})
    if(DIALCRED_SANITIZE)
      set_tests_properties(${T_C_TEST} PROPERTIES ENVIRONMENT "${DIALCRED_TEST_ENVIRONMENT}")
    endif()
    return()
  endif()
  if(T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  endif()
  gtest_discover_tests(${name} TEST_LIST ${name}_TESTS PROPERTIES ${props})
  if(DIALCRED_SANITIZE)
    # A list-valued property does not survive gtest_discover_tests: set it on
    # the discovered tests once CTest has read them.
    set(env_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    file(WRITE ${env_file}
      "if(${name}_TESTS)\n"
      "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${DIALCRED_TEST_ENVIRONMENT}]==])\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${env_file})
  endif()
endfunction()
