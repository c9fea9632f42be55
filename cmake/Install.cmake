# Where `cmake --install` and the Debian packages put things, and the helpers
# that the subdirectories use for their install rules. Included before the
# subdirectories; cmake/Package.cmake, included after them, writes the CMake
# package configuration. debian/*.install split the result into packages.
#
# Layout under the prefix:
#   bin/dialcred                      the command
#   sbin/omegad, sbin/alphad          the development servers
#   <libdir>/libomegaclnt.so.1, .a    common part and omega client
#   <libdir>/libalphaclnt.so.1, .a    alpha client (needs libomegaclnt)
#   <libdir>/libpinpw2t.a             keypad code
#   include/dialcred/                 every public header, flat
#   <libdir>/pkgconfig/*.pc           one per library
#   <libdir>/cmake/dialcred/          find_package(dialcred)
#   share/man/man1, man8              the manual pages
# <libdir> is lib, or lib/<multiarch> for the prefix /usr on Debian.
include(GNUInstallDirs)

# The headers include each other by bare name ("omega.h", "rpccommon.h"), so
# they sit together in one folder, and that folder is what consumers put on
# their include path (pkg-config Cflags and the CMake targets alike).
set(DIALCRED_INCLUDE_SUBDIR dialcred)
set(DIALCRED_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/${DIALCRED_INCLUDE_SUBDIR})
set(DIALCRED_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/dialcred)
set(DIALCRED_EXPORT dialcredTargets)

# The static libraries hold C++ code. A program that links one of them with
# the C linker (a project without CXX enabled) needs the C++ runtime named.
set(DIALCRED_CXX_RUNTIME "$<$<LINK_LANGUAGE:C>:stdc++>")

# dialcred_pkgconfig(<name> DESCRIPTION <text> [REQUIRES <modules>]
#                    [LIBS <flags>] [LIBS_PRIVATE <flags>])
#
# Installs <libdir>/pkgconfig/<name>.pc. The prefix in it is the one the
# install runs with (`cmake --install --prefix`; /usr for the Debian build,
# which stages into debian/tmp through DESTDIR), not the one configured, so
# the file is written at install time; everything else is filled in now.
function(dialcred_pkgconfig name)
  cmake_parse_arguments(PC "" "DESCRIPTION" "REQUIRES;LIBS;LIBS_PRIVATE" ${ARGN})
  set(PC_NAME ${name})
  string(JOIN ", " PC_REQUIRES ${PC_REQUIRES})
  string(JOIN " " PC_LIBS ${PC_LIBS})
  string(JOIN " " PC_LIBS_PRIVATE ${PC_LIBS_PRIVATE})
  # Left in place for the second pass, at install time.
  set(PC_PREFIX "@PC_PREFIX@")
  set(stage ${PROJECT_BINARY_DIR}/pkgconfig)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${stage}/${name}.pc.in @ONLY)
  install(CODE "
    set(PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${stage}/${name}.pc.in\" \"${stage}/${name}.pc\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
         TYPE FILE FILES \"${stage}/${name}.pc\")")
endfunction()
