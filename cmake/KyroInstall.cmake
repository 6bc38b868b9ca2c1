# What `cmake --install` puts where (GNUInstallDirs): the shared library, the headers hosts
# include, the companion where the library looks for it by default, the data files, and a
# CMake package (kyroint::kyroint) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The headers are the shared library's file set (kyroint/CMakeLists.txt): the
# host's interface and everything it includes, nothing more. The include folder is named
# apart as well, for hosts whose CMake predates file sets (3.23), which the package skips.
install(TARGETS kyroint EXPORT kyrointTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# MSVC's import library of the C interface, beside the DLL.
if(WIN32)
  install(FILES ${KYRO_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The companion: on Windows beside the DLL; elsewhere in the companion folder the library
# looks in by default (the install prefix's lib, "Norveldt Shared/Kyro/R<major>").
if(WIN32)
  install(TARGETS vex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  install(TARGETS vex kyrogtkwindows RUNTIME
          DESTINATION "lib/Norveldt Shared/Kyro/R${PROJECT_VERSION_MAJOR}"
          LIBRARY DESTINATION "lib/Norveldt Shared/Kyro/R${PROJECT_VERSION_MAJOR}")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/data/KyroErrorCodes.xml ${PROJECT_SOURCE_DIR}/data/KyroIntRes.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kyroint)
install(FILES ${PROJECT_SOURCE_DIR}/data/de-DE/KyroIntRes.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kyroint/de-DE)
# The companion's own texts: on Linux in the localized data folders beside Vex.exe, where
# it looks by default.
if(WIN32)
  set(_kyro_vex_texts ${CMAKE_INSTALL_DATADIR}/kyroint)
else()
  set(_kyro_vex_texts "lib/Norveldt Shared/Kyro/R${PROJECT_VERSION_MAJOR}")
endif()
foreach(_locale en-US de-DE fr-FR ja-JP)
  install(FILES ${PROJECT_SOURCE_DIR}/data/${_locale}/VexRes.xml
          DESTINATION "${_kyro_vex_texts}/${_locale}")
endforeach()

set(_kyro_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kyroint)
install(EXPORT kyrointTargets NAMESPACE kyroint:: DESTINATION ${_kyro_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/packaging/kyrointConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/kyrointConfig.cmake INSTALL_DESTINATION ${_kyro_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/kyrointConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/kyrointConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/kyrointConfigVersion.cmake
        DESTINATION ${_kyro_cmake_dir})

configure_file(${PROJECT_SOURCE_DIR}/cmake/packaging/kyroint.pc.in
               ${CMAKE_BINARY_DIR}/packaging/kyroint.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/kyroint.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
