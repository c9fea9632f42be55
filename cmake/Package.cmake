# The CMake package configuration, the manual pages and the check of the
# shared libraries' exports. Included after the subdirectories, whose install
# rules fill the export set. The Debian packages are made from debian/.
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
# symbol. The Debian symbols files (debian/*.symbols) list each export.
if(DIALCRED_TESTS)
  add_test(NAME shared_libraries_export_c_only
    COMMAND sh ${PROJECT_SOURCE_DIR}/tests/package/exports.sh ${CMAKE_NM}
            $<TARGET_FILE:omegaclnt_shared> $<TARGET_FILE:alphaclnt_shared>)
  set_tests_properties(shared_libraries_export_c_only PROPERTIES LABELS unit)
endif()
