# Install rules: the client and its tools, the codec library on its own (header, archive, pkg-config file and
# CMake package `zrc` with the imported target zrc::zrc), the example key map and the README, in the usual
# GNUInstallDirs places. Included by the top CMakeLists.txt once every target exists.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

foreach(program qx-native-client qxctl qx-devsim zrctool)
    if(TARGET ${program})
        install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/keymap.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The codec. In the tree its users include "codec/include/zrc.h"; installed, it is <zrc.h>.
set(QX_ZRC_VERSION 2.0.12)
set_target_properties(zrc PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
    "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}>;$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
install(TARGETS zrc EXPORT zrcTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/codec/include/zrc.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(QX_ZRC_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zrc)
install(EXPORT zrcTargets NAMESPACE zrc:: DESTINATION ${QX_ZRC_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/zrcConfig.cmake.in
    ${CMAKE_BINARY_DIR}/zrcConfig.cmake INSTALL_DESTINATION ${QX_ZRC_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zrcConfigVersion.cmake VERSION ${QX_ZRC_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/zrcConfig.cmake ${CMAKE_BINARY_DIR}/zrcConfigVersion.cmake
    DESTINATION ${QX_ZRC_CMAKEDIR})

# The pkg-config file finds the prefix from its own place, so that it holds wherever the tree is installed
# (--prefix at install time, DESTDIR, a package).
file(RELATIVE_PATH QX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" QX_PC_TO_PREFIX "${QX_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/zrc.pc.in ${CMAKE_BINARY_DIR}/zrc.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zrc.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
