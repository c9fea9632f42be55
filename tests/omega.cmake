# Tests of the omega client library: wire form of its records and list
# codecs, the text printers and readers (unit), a C program using the public
# headers (unit), and the fax table wrappers against the development omega
# server (live).
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

foreach(t omega_xdr_test omega_otools_test)
  add_executable(${t} ${CMAKE_CURRENT_LIST_DIR}/${t}.cpp)
  target_include_directories(${t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/unit)
  target_link_libraries(${t} PRIVATE omegaclnt GTest::gtest_main)
  dialcred_warnings(${t})
  gtest_discover_tests(${t} PROPERTIES LABELS unit)
endforeach()

add_executable(omega_c_test ${CMAKE_CURRENT_LIST_DIR}/omega_c_test.c)
target_link_libraries(omega_c_test PRIVATE omegaclnt)
dialcred_warnings(omega_c_test)
add_test(NAME OmegaC.PublicHeadersServeACProgram COMMAND omega_c_test)
set_tests_properties(OmegaC.PublicHeadersServeACProgram PROPERTIES LABELS unit)

add_executable(omega_tables_test ${CMAKE_CURRENT_LIST_DIR}/omega_tables_test.cpp)
target_link_libraries(omega_tables_test PRIVATE omegaclnt testsupport GTest::gtest_main)
target_compile_definitions(omega_tables_test PRIVATE OMEGAD_PATH="$<TARGET_FILE:omegad>")
add_dependencies(omega_tables_test omegad)
dialcred_warnings(omega_tables_test)
gtest_discover_tests(omega_tables_test PROPERTIES LABELS live)
