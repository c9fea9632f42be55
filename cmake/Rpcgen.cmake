# rpcgen_generate(<name> <file.x>)
#
# Runs rpcgen on one interface file and sets <name>_GEN_HEADER,
# <name>_GEN_XDR and <name>_GEN_CLNT to the generated files in
# ${CMAKE_BINARY_DIR}/gen. rpcgen writes the input path into the #include
# of its output and refuses to overwrite files, so the .x is copied into the
# output folder and each file is generated fresh from the bare name.
#
# libtirpc's xdr_long does not sign-extend into a 64-bit long; every
# generated call is pointed at xdr_slong (clientlib/common), which reads
# and writes the same four bytes but keeps negative values negative. The
# inline fast path (-i) is switched off, because its IXDR_GET_LONG would
# bypass that routine; every field goes through its own XDR routine.
# The interface language reserves "version", which the records use as the
# name of their discriminant: the .x files spell it xversion.
set(RPCGEN_GEN_DIR ${CMAKE_BINARY_DIR}/gen)
file(MAKE_DIRECTORY ${RPCGEN_GEN_DIR})
find_program(RPCGEN_EXECUTABLE rpcgen REQUIRED)

function(rpcgen_generate name xfile)
  get_filename_component(xabs ${xfile} ABSOLUTE)
  get_filename_component(base ${xfile} NAME_WE)
  set(dir ${RPCGEN_GEN_DIR})
  set(h ${dir}/${base}.h)
  set(x ${dir}/${base}_xdr.c)
  set(c ${dir}/${base}_clnt.c)
  set(fix -e "s/\\bxdr_long\\b/xdr_slong/g" -e "s/\\bxversion\\b/version/g")
  add_custom_command(
    OUTPUT ${h} ${x} ${c}
    COMMAND ${CMAKE_COMMAND} -E copy ${xabs} ${dir}/${base}.x
    COMMAND ${CMAKE_COMMAND} -E rm -f ${h} ${x} ${c}
    COMMAND ${RPCGEN_EXECUTABLE} -h -o ${base}.h ${base}.x
    COMMAND ${RPCGEN_EXECUTABLE} -c -i 0 -o ${base}_xdr.c ${base}.x
    COMMAND ${RPCGEN_EXECUTABLE} -l -o ${base}_clnt.c ${base}.x
    COMMAND sed -i ${fix} ${base}.h ${base}_xdr.c ${base}_clnt.c
    DEPENDS ${xabs}
    WORKING_DIRECTORY ${dir}
    COMMENT "rpcgen ${base}.x"
    VERBATIM)
  set(${name}_GEN_HEADER ${h} PARENT_SCOPE)
  set(${name}_GEN_XDR ${x} PARENT_SCOPE)
  set(${name}_GEN_CLNT ${c} PARENT_SCOPE)
endfunction()
