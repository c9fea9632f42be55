# Unit tests of the client libraries: no server involved.
add_executable(clientlib_unit_test
  ${CMAKE_CURRENT_LIST_DIR}/unit/wire_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unit/strings_test.cpp)
target_include_directories(clientlib_unit_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/unit)
target_link_libraries(clientlib_unit_test PRIVATE omegaclnt alphaclnt GTest::gtest_main)
dialcred_warnings(clientlib_unit_test)
gtest_discover_tests(clientlib_unit_test PROPERTIES LABELS unit)

add_executable(envprobe ${CMAKE_CURRENT_LIST_DIR}/unit/envprobe.cpp)
target_link_libraries(envprobe PRIVATE rpccommon)
add_executable(env_test ${CMAKE_CURRENT_LIST_DIR}/unit/env_test.cpp)
target_link_libraries(env_test PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(env_test PRIVATE ENVPROBE_BINARY="$<TARGET_FILE:envprobe>")
add_dependencies(env_test envprobe)
dialcred_warnings(env_test)
gtest_discover_tests(env_test PROPERTIES LABELS unit)
