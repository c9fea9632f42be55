# Replays the fuzz corpus and the saved fuzz findings (fuzz/corpus,
# fuzz/regressions) through the fuzz targets' checks in the normal build, and
# compares the fuzz tables with the XDR routines the generated headers
# declare (unit). The fuzz targets themselves are built by fuzz/ (clang,
# DIALCRED_FUZZ) and run by scripts/fuzz.sh.
if(NOT TARGET GTest::gtest_main)
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

get_filename_component(FUZZ_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(FUZZ_SOURCE_DIR ${FUZZ_SOURCE_ROOT}/fuzz)

# The declarations of each generated header as the preprocessor expands them
# (list nodes and owning answers are declared through macros); each header's
# own routines are those its includes do not declare.
set(FUZZ_DECLS_DIR ${CMAKE_CURRENT_BINARY_DIR}/fuzz_decls)
set(fuzz_decl_outputs)
set(fuzz_decl_includes -I${RPCGEN_GEN_DIR} -I${FUZZ_SOURCE_ROOT}/clientlib/common)
foreach(dir ${TIRPC_INCLUDE_DIRS})
  list(APPEND fuzz_decl_includes -I${dir})
endforeach()
foreach(h rpc common omega alpha)
  if(h STREQUAL "rpc")
    set(include "<rpc/rpc.h>")
    set(depends)
  else()
    set(include "\"${h}.h\"")
    set(depends ${RPCGEN_GEN_DIR}/${h}.h)
  endif()
  file(CONFIGURE OUTPUT ${FUZZ_DECLS_DIR}/${h}.c CONTENT "#include ${include}\n")
  add_custom_command(
    OUTPUT ${FUZZ_DECLS_DIR}/${h}.txt
    COMMAND ${CMAKE_C_COMPILER} -E -P ${fuzz_decl_includes} ${FUZZ_DECLS_DIR}/${h}.c
            -o ${FUZZ_DECLS_DIR}/${h}.txt
    DEPENDS ${depends}
    VERBATIM)
  list(APPEND fuzz_decl_outputs ${FUZZ_DECLS_DIR}/${h}.txt)
endforeach()
add_custom_target(fuzz_decls DEPENDS ${fuzz_decl_outputs})
add_dependencies(fuzz_decls alphaclnt)

add_executable(fuzz_regression_test
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_regression_test.cpp
  ${FUZZ_SOURCE_DIR}/fuzz_checks.cpp
  ${FUZZ_SOURCE_DIR}/xdr_catalogue.cpp
  ${FUZZ_SOURCE_DIR}/fuzz_chains.c)
target_include_directories(fuzz_regression_test PRIVATE ${FUZZ_SOURCE_DIR})
target_link_libraries(fuzz_regression_test PRIVATE alphaclnt omegaclnt pinpw2t GTest::gtest_main)
target_compile_definitions(fuzz_regression_test PRIVATE
  FUZZ_DIR="${FUZZ_SOURCE_DIR}" FUZZ_DECLS_DIR="${FUZZ_DECLS_DIR}")
add_dependencies(fuzz_regression_test fuzz_decls)
dialcred_warnings(fuzz_regression_test)
gtest_discover_tests(fuzz_regression_test PROPERTIES LABELS unit)
