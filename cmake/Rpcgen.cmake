# rpcgen_generate(<name> <file.x> [PLAIN])
#
# Runs rpcgen on one interface file and sets <name>_GEN_DIR to the folder of
# its output, <name>_GEN_HEADER and <name>_GEN_XDR to the generated header
# and XDR routines and, without PLAIN, <name>_GEN_CLNT to the client stubs.
# The generated C files get the milder warnings of generated code. rpcgen
# writes the input path into the #include of its output and refuses to
# overwrite files, so the .x is copied into the output folder and each file
# is generated fresh from the bare name.
#
# The project's code (${CMAKE_BINARY_DIR}/gen): libtirpc's xdr_long does not
# sign-extend into a 64-bit long; every generated call is pointed at
# xdr_slong (clientlib/common), which reads and writes the same four bytes
# but keeps negative values negative. The inline fast path (-i) is switched
# off, because its IXDR_GET_LONG would bypass that routine; every field goes
# through its own XDR routine. The interface language reserves "version",
# which the records use as the name of their discriminant: the .x files
# spell it xversion.
#
# PLAIN: what ordinary rpcgen makes of the file (header and XDR routines, no
# stubs, none of the above), in the calling folder's build folder
# (<...>/rpcgen_plain): the plain code that the list codec benchmark holds
# the project's code against.
set(RPCGEN_GEN_DIR ${CMAKE_BINARY_DIR}/gen)
file(MAKE_DIRECTORY ${RPCGEN_GEN_DIR})
find_program(RPCGEN_EXECUTABLE rpcgen REQUIRED)

function(rpcgen_generate name xfile)
  cmake_parse_arguments(arg "PLAIN" "" "" ${ARGN})
  get_filename_component(xabs ${xfile} ABSOLUTE)
  get_filename_component(base ${xfile} NAME_WE)
  if(arg_PLAIN)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/rpcgen_plain)
    file(MAKE_DIRECTORY ${dir})
  else()
    set(dir ${RPCGEN_GEN_DIR})
  endif()
  set(h ${dir}/${base}.h)
  set(x ${dir}/${base}_xdr.c)
  set(c ${dir}/${base}_clnt.c)
  if(arg_PLAIN)
    set(outputs ${h} ${x})
    set(commands
      COMMAND ${RPCGEN_EXECUTABLE} -h -o ${base}.h ${base}.x
      COMMAND ${RPCGEN_EXECUTABLE} -c -o ${base}_xdr.c ${base}.x)
  else()
    set(outputs ${h} ${x} ${c})
    set(fix -e "s/\\bxdr_long\\b/xdr_slong/g" -e "s/\\bxversion\\b/version/g")
    set(commands
      COMMAND ${RPCGEN_EXECUTABLE} -h -o ${base}.h ${base}.x
      COMMAND ${RPCGEN_EXECUTABLE} -c -i 0 -o ${base}_xdr.c ${base}.x
      COMMAND ${RPCGEN_EXECUTABLE} -l -o ${base}_clnt.c ${base}.x
      COMMAND sed -i ${fix} ${base}.h ${base}_xdr.c ${base}_clnt.c)
  endif()
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E copy ${xabs} ${dir}/${base}.x
    COMMAND ${CMAKE_COMMAND} -E rm -f ${outputs}
    ${commands}
    DEPENDS ${xabs}
    WORKING_DIRECTORY ${dir}
    COMMENT "rpcgen ${base}.x"
    VERBATIM)
  list(FILTER outputs INCLUDE REGEX "\\.c$")
  set_source_files_properties(${outputs} PROPERTIES
    COMPILE_OPTIONS "${DIALCRED_GENERATED_WARNINGS}")
  set(${name}_GEN_DIR ${dir} PARENT_SCOPE)
  set(${name}_GEN_HEADER ${h} PARENT_SCOPE)
  set(${name}_GEN_XDR ${x} PARENT_SCOPE)
  if(NOT arg_PLAIN)
    set(${name}_GEN_CLNT ${c} PARENT_SCOPE)
  endif()
endfunction()
