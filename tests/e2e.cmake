# Tests through real sockets: the project's omega and alpha servers,
# rpcbind, a private slapd and dovecot, and dialcred run as a separate process.
add_library(e2e_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/e2e/devservers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/fake_ldap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/shared_servers.cpp)
target_include_directories(e2e_support PUBLIC ${CMAKE_CURRENT_LIST_DIR}/e2e)
target_link_libraries(e2e_support PUBLIC testsupport devserver pinpw2t GTest::gtest PkgConfig::TIRPC)
target_compile_definitions(e2e_support PUBLIC
  OMEGAD_BINARY="$<TARGET_FILE:omegad>"
  ALPHAD_BINARY="$<TARGET_FILE:alphad>"
  DIALCRED_BINARY="$<TARGET_FILE:dialcred>")
target_include_directories(e2e_support PUBLIC ${PROJECT_SOURCE_DIR}/devservers)
add_dependencies(e2e_support omegad alphad dialcred)
dialcred_warnings(e2e_support)

add_executable(clientlib_live_test ${CMAKE_CURRENT_LIST_DIR}/e2e/clientlib_live_test.cpp)
target_link_libraries(clientlib_live_test PRIVATE e2e_support omegaclnt alphaclnt GTest::gtest_main)
dialcred_warnings(clientlib_live_test)
gtest_discover_tests(clientlib_live_test PROPERTIES LABELS live TIMEOUT 120)

add_executable(dialcred_test ${CMAKE_CURRENT_LIST_DIR}/e2e/dialcred_test.cpp)
target_link_libraries(dialcred_test PRIVATE e2e_support pinpw2t GTest::gtest_main)
dialcred_warnings(dialcred_test)
gtest_discover_tests(dialcred_test PROPERTIES LABELS live TIMEOUT 180)

add_executable(guard_test ${CMAKE_CURRENT_LIST_DIR}/e2e/guard_test.cpp)
target_link_libraries(guard_test PRIVATE e2e_support GTest::gtest_main)
target_compile_definitions(guard_test PRIVATE
  VALGRIND_SUPPRESSIONS="${CMAKE_CURRENT_LIST_DIR}/e2e/valgrind.supp"
  $<$<BOOL:${DIALCRED_SANITIZE}>:DIALCRED_SANITIZE>)
dialcred_warnings(guard_test)
gtest_discover_tests(guard_test PROPERTIES LABELS live TIMEOUT 180)

add_executable(dialcred_demo ${CMAKE_CURRENT_LIST_DIR}/e2e/demo.cpp)
target_link_libraries(dialcred_demo PRIVATE e2e_support pinpw2t)
dialcred_warnings(dialcred_demo)
