# Unit tests of the keypad code (encoding, decoding, capacity limits).
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
add_executable(keypad_test ${CMAKE_CURRENT_LIST_DIR}/keypad_test.cpp)
target_link_libraries(keypad_test PRIVATE pinpw2t GTest::gtest_main)
dialcred_warnings(keypad_test)
gtest_discover_tests(keypad_test PROPERTIES LABELS unit)
