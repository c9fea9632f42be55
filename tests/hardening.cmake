# Hardening tests through real sockets: the command against servers that fail
# midway, the client libraries against servers that answer badly, and many
# commands at once. All are live tests (rpcbind, the development servers, a
# private slapd and dovecot).

add_executable(faults_test ${CMAKE_CURRENT_LIST_DIR}/e2e/faults_test.cpp)
target_link_libraries(faults_test PRIVATE e2e_support pinpw2t GTest::gtest_main)
dialcred_warnings(faults_test)
gtest_discover_tests(faults_test PROPERTIES LABELS live TIMEOUT 180)

# Its own main: the binary also runs single library calls as child processes.
add_executable(hostile_test
  ${CMAKE_CURRENT_LIST_DIR}/e2e/hostile_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/e2e/hostile_server.cpp)
target_link_libraries(hostile_test PRIVATE e2e_support omegaclnt alphaclnt clientlib_internals GTest::gtest)
dialcred_warnings(hostile_test)
gtest_discover_tests(hostile_test PROPERTIES LABELS live TIMEOUT 180)

add_executable(load_test ${CMAKE_CURRENT_LIST_DIR}/e2e/load_test.cpp)
target_link_libraries(load_test PRIVATE e2e_support pinpw2t GTest::gtest_main)
dialcred_warnings(load_test)
gtest_discover_tests(load_test PROPERTIES LABELS live TIMEOUT 180)
