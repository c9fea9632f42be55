# Unit tests of the client libraries: no server involved.
add_executable(clientlib_unit_test
  ${CMAKE_CURRENT_LIST_DIR}/unit/wire_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unit/strings_test.cpp)
target_include_directories(clientlib_unit_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/unit)
target_link_libraries(clientlib_unit_test PRIVATE omegaclnt alphaclnt GTest::gtest_main)
dialcred_warnings(clientlib_unit_test)
gtest_discover_tests(clientlib_unit_test PROPERTIES LABELS unit)
