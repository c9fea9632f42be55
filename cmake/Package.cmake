# The CMake package configuration, the manual pages and the Debian package.
# Included after the subdirectories, whose install rules fill the export set.
include(CMakePackageConfigHelpers)

install(EXPORT ${DIALCRED_EXPORT} NAMESPACE dialcred::
  DESTINATION ${DIALCRED_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/dialcredConfig.cmake.in
  ${PROJECT_BINARY_DIR}/dialcredConfig.cmake
  INSTALL_DESTINATION ${DIALCRED_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/dialcredConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/dialcredConfig.cmake
  ${PROJECT_BINARY_DIR}/dialcredConfigVersion.cmake
  DESTINATION ${DIALCRED_INSTALL_CMAKEDIR})

# Manual pages, compressed as Debian keeps them.
set(DIALCRED_MANPAGES dialcred.1 omegad.8 alphad.8)
find_program(GZIP_EXECUTABLE gzip REQUIRED)
set(man_dir ${PROJECT_BINARY_DIR}/man)
set(man_out)
foreach(page IN LISTS DIALCRED_MANPAGES)
  set(src ${PROJECT_SOURCE_DIR}/docs/${page})
  add_custom_command(OUTPUT ${man_dir}/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${src} ${man_dir}/${page}
    COMMAND ${GZIP_EXECUTABLE} -9 -n -f ${man_dir}/${page}
    DEPENDS ${src}
    COMMENT "gzip ${page}"
    VERBATIM)
  string(REGEX MATCH "[0-9]+$" section ${page})
  install(FILES ${man_dir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  list(APPEND man_out ${man_dir}/${page}.gz)
endforeach()
file(MAKE_DIRECTORY ${man_dir})
add_custom_target(manpages ALL DEPENDS ${man_out})

# The shared libraries' exports are their ABI: the C interface, no C++
# symbol.
if(DIALCRED_TESTS)
  add_test(NAME shared_libraries_export_c_only
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/package/exports.sh ${CMAKE_NM}
            $<TARGET_FILE:omegaclnt_shared> $<TARGET_FILE:alphaclnt_shared>)
  set_tests_properties(shared_libraries_export_c_only PROPERTIES LABELS unit)
endif()

# One Debian package with everything: the command, the libraries for the
# system's other programs to run and to build against, the development
# servers and the manual pages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dialcred)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dialcred maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "set a user's telephone PIN; omega and alpha RPC client libraries")
set(CPACK_PACKAGE_DESCRIPTION
  "dialcred sets the telephone PIN of a user of the unified-messaging and fax
server system: it checks the mail password by a mailbox login and stores the
keypad code on the user's alpha server. The package also holds the omega and
alpha ONC RPC client libraries (shared and static, with headers, pkg-config
files and a CMake package), the keypad code library, and development omega
and alpha servers for tests.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Runtime libraries from the binaries themselves; libtirpc-dev because the
# installed headers and pkg-config files need it to build anything.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libtirpc-dev")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "rpcbind, pkg-config")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
