# Tests of the alpha client library: wire form of its records (unit), and its
# wrapper families against the development alpha server (live).
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

add_executable(alpha_xdr_test ${CMAKE_CURRENT_LIST_DIR}/alpha_xdr_test.cpp)
target_include_directories(alpha_xdr_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/unit)
target_link_libraries(alpha_xdr_test PRIVATE alphaclnt GTest::gtest_main)
dialcred_warnings(alpha_xdr_test)
gtest_discover_tests(alpha_xdr_test PROPERTIES LABELS unit)

add_executable(alpha_family_test ${CMAKE_CURRENT_LIST_DIR}/alpha_family_test.cpp)
target_include_directories(alpha_family_test PRIVATE ${CMAKE_CURRENT_LIST_DIR}/unit)
target_link_libraries(alpha_family_test PRIVATE alphaclnt GTest::gtest_main)
target_compile_definitions(alpha_family_test PRIVATE ALPHAD_PATH="$<TARGET_FILE:alphad>")
add_dependencies(alpha_family_test alphad)
dialcred_warnings(alpha_family_test)
gtest_discover_tests(alpha_family_test PROPERTIES LABELS live)

add_executable(alpha_c_test ${CMAKE_CURRENT_LIST_DIR}/alpha_c_test.c)
target_link_libraries(alpha_c_test PRIVATE alphaclnt)
dialcred_warnings(alpha_c_test)
add_test(NAME AlphaC.PublicHeadersCompileAndLinkAsC COMMAND alpha_c_test)
set_tests_properties(AlphaC.PublicHeadersCompileAndLinkAsC PROPERTIES LABELS unit)
