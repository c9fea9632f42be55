# Replays the fuzz corpus and the saved fuzz findings (fuzz/corpus,
# fuzz/regressions) through the fuzz targets' checks in the normal build, and
# compares the fuzz tables with the XDR routines the generated headers
# declare (unit). The fuzz targets themselves are built by fuzz/ (clang,
# DIALCRED_FUZZ) and run by scripts/fuzz.sh.
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

dialcred_add_test(fuzz_regression_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_regression_test.cpp
          ${FUZZ_SOURCE_DIR}/fuzz_checks.cpp
          ${FUZZ_SOURCE_DIR}/xdr_catalogue.cpp
          ${FUZZ_SOURCE_DIR}/fuzz_chains.c
  LIBS alphaclnt omegaclnt pinpw2t LABEL unit
  DEFINES FUZZ_DIR="${FUZZ_SOURCE_DIR}" FUZZ_DECLS_DIR="${FUZZ_DECLS_DIR}")
target_include_directories(fuzz_regression_test PRIVATE ${FUZZ_SOURCE_DIR})
add_dependencies(fuzz_regression_test fuzz_decls)

# Every XDR routine of both programs once more, with the fixed-width strings
# of plain rpcgen code (tests/unit/plain_strings.x), as a module of its own
# (bound to its own symbols) that fixed_strings_test loads beside the
# library: the library's routines must write and read the same bytes.
set(plain_gen ${CMAKE_CURRENT_BINARY_DIR}/plain_gen)
file(MAKE_DIRECTORY ${plain_gen})
add_custom_command(
  OUTPUT ${plain_gen}/plain_strings.h ${plain_gen}/plain_strings_xdr.c
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/unit/plain_strings.x plain_strings.x
  COMMAND ${CMAKE_COMMAND} -E rm -f plain_strings.h plain_strings_xdr.c
  COMMAND ${RPCGEN_EXECUTABLE} -h -o plain_strings.h plain_strings.x
  COMMAND ${RPCGEN_EXECUTABLE} -c -o plain_strings_xdr.c plain_strings.x
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/unit/plain_strings.x
  WORKING_DIRECTORY ${plain_gen}
  COMMENT "rpcgen plain_strings.x"
  VERBATIM)
set(plain_sources
  ${plain_gen}/plain_strings_xdr.c
  ${RPCGEN_GEN_DIR}/common_xdr.c ${RPCGEN_GEN_DIR}/omega_xdr.c ${RPCGEN_GEN_DIR}/alpha_xdr.c
  ${FUZZ_SOURCE_ROOT}/clientlib/common/bytes_xdr.c
  ${FUZZ_SOURCE_ROOT}/clientlib/common/chain_xdr.c
  ${FUZZ_SOURCE_ROOT}/clientlib/omega/o_chains.c
  ${FUZZ_SOURCE_ROOT}/clientlib/alpha/a_chain_xdr.c
  ${FUZZ_SOURCE_DIR}/fuzz_chains.c)
add_library(plain_xdr MODULE ${plain_sources})
set_source_files_properties(${plain_sources} PROPERTIES
  COMPILE_OPTIONS "${DIALCRED_GENERATED_WARNINGS}")
target_include_directories(plain_xdr PRIVATE ${RPCGEN_GEN_DIR}
  ${FUZZ_SOURCE_ROOT}/clientlib/common ${FUZZ_SOURCE_DIR})
target_link_libraries(plain_xdr PRIVATE PkgConfig::TIRPC)
target_link_options(plain_xdr PRIVATE -Wl,-Bsymbolic)
add_dependencies(plain_xdr alphaclnt)

dialcred_add_test(fixed_strings_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/unit/fixed_strings_test.cpp
          ${FUZZ_SOURCE_DIR}/xdr_catalogue.cpp
          ${FUZZ_SOURCE_DIR}/fuzz_chains.c
  LIBS alphaclnt omegaclnt ${CMAKE_DL_LIBS} LABEL unit
  DEFINES PLAIN_XDR="$<TARGET_FILE:plain_xdr>")
target_include_directories(fixed_strings_test PRIVATE ${FUZZ_SOURCE_DIR})
add_dependencies(fixed_strings_test plain_xdr)
