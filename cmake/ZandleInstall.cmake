# Install rules: the programs, the library (static, and shared when built), the public
# headers, a CMake package with namespaced targets and a version file, a pkg-config file,
# the manual pages, the editor files and the licence. Paths follow GNUInstallDirs, so CMAKE_INSTALL_PREFIX
# and DESTDIR work as usual.
include(CMakePackageConfigHelpers)

set_target_properties(zandle_vm_program PROPERTIES EXPORT_NAME vm)
set_target_properties(zandle_zndvm_program PROPERTIES EXPORT_NAME zndvm)
set(zandle_installed zandle zandle_vm_program zandle_zndvm_program)
if(TARGET zandle_shared)
  set_target_properties(zandle_shared PROPERTIES EXPORT_NAME shared)
  list(APPEND zandle_installed zandle_shared)
endif()
if(TARGET zandle_check)
  list(APPEND zandle_installed zandle_check)
endif()

install(TARGETS ${zandle_installed} EXPORT ZandleTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/zandle DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(zandle_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Zandle)
install(EXPORT ZandleTargets NAMESPACE Zandle:: DESTINATION ${zandle_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZandleConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ZandleConfig.cmake
                              INSTALL_DESTINATION ${zandle_cmake_dir})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZandleConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZandleConfig.cmake ${PROJECT_BINARY_DIR}/ZandleConfigVersion.cmake
        DESTINATION ${zandle_cmake_dir})

# The pkg-config file finds the prefix from where it lies, so the installed tree can be moved
# (or staged under DESTDIR) and still be used.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZANDLE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  set(ZANDLE_PC_PREFIX "\${pcfiledir}/..")
  string(REPLACE "/" ";" zandle_libdir_parts "${CMAKE_INSTALL_LIBDIR}")
  foreach(part ${zandle_libdir_parts})
    string(APPEND ZANDLE_PC_PREFIX "/..")
  endforeach()
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ZANDLE_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ZANDLE_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/zandle.pc.in ${PROJECT_BINARY_DIR}/zandle.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zandle.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${PROJECT_SOURCE_DIR}/man/vm.1 ${PROJECT_SOURCE_DIR}/man/zndvm.1
              ${PROJECT_SOURCE_DIR}/man/zandle-check.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/editors/vim/syntax/zandle.vim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vim/vimfiles/syntax)
install(FILES ${PROJECT_SOURCE_DIR}/editors/vim/ftdetect/zandle.vim
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vim/vimfiles/ftdetect)
install(FILES ${PROJECT_SOURCE_DIR}/editors/textmate/zandle.tmLanguage.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zandle/textmate)
install(FILES ${PROJECT_SOURCE_DIR}/editors/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME editors.md)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
