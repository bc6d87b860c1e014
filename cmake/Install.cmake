# cmake --install: the public headers, the library, the programs, a CMake
# package (find_package(orv) gives orv::orv) and a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed programs find a shared liborv beside them.
set_target_properties(OrvDec OrvPacketize OrvEnc PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
if(TARGET OrvExport)
  set_target_properties(OrvExport PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/orv DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(TARGETS orv EXPORT orvTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS OrvDec OrvPacketize OrvEnc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET OrvExport)
  install(TARGETS OrvExport RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(ORV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orv)
install(EXPORT orvTargets NAMESPACE orv:: DESTINATION ${ORV_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/orvConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/orvConfig.cmake INSTALL_DESTINATION ${ORV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/orvConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/orvConfig.cmake ${CMAKE_BINARY_DIR}/orvConfigVersion.cmake
        DESTINATION ${ORV_CMAKE_DIR})

# pkg-config: a static liborv needs the C++ runtime and threads of its users' link.
if(BUILD_SHARED_LIBS)
  set(ORV_PC_LIBS_PRIVATE "")
else()
  set(ORV_PC_LIBS_PRIVATE "-lstdc++ -lm -lpthread")
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/orv.pc.in ${CMAKE_BINARY_DIR}/orv.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/orv.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
