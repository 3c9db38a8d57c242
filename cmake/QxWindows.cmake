# The Windows build (cross-compiled with mingw-w64, see toolchain-mingw64.cmake): what differs from Linux, kept
# in one place. Test programs run under wine: one wine prefix in the build folder, one wineserver kept for the
# whole test run.

# Windows 10 API level, so that SetThreadDescription and friends are declared (they are looked up at run time).
# The C99 printf family (%zu, %lld), not the old Microsoft one.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX __USE_MINGW_ANSI_STDIO=1)

# Programs and DLLs side by side, as Windows looks for a program's DLLs beside it: the tests find
# mftavcdecoder.dll as the client does.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

set(QX_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_SCRIPTS_DIR}/wine-run ${QX_WINE_PREFIX})
endif()

# GoogleTest built from Debian's sources (package googletest) with the same compiler, inside the build folder.
macro(qx_windows_gtest)
    set(QX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources built for Windows")
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    add_subdirectory(${QX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endmacro()

# The tests of the Windows build: every platform-independent unit test as a Windows program, and the control
# end-to-end tests of the Linux build driving qx-native-client.exe over loopback (QX_LINUX_BUILD names that
# build's folder).
macro(qx_windows_tests)
    qx_windows_gtest()
    set(QX_LINUX_BUILD "" CACHE PATH "The Linux build whose end-to-end test programs drive the Windows client")
    # Everything under wine shares one prefix and one wineserver: the first test starts it, the last stops it.
    add_test(NAME wine_start COMMAND ${QX_SCRIPTS_DIR}/wine-run ${QX_WINE_PREFIX} --start)
    add_test(NAME wine_stop COMMAND ${QX_SCRIPTS_DIR}/wine-run ${QX_WINE_PREFIX} --stop)
    set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 600 LABELS wine)
    set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60 LABELS wine)
    add_subdirectory(tests/unit)
    add_subdirectory(tests/e2e)
endmacro()

# The folder to copy to a Windows PC: build-win/dist.
function(qx_windows_dist)
    set(dist ${CMAKE_BINARY_DIR}/dist)
    set(programs)
    foreach(target qx-native-client mftavcdecoder qxctl zrctool)
        if(TARGET ${target})
            list(APPEND programs $<TARGET_FILE:${target}>)
        endif()
    endforeach()
    add_custom_target(dist ALL
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dist}/examples
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${programs} ${dist}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/examples/keymap.txt ${dist}/examples
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/scripts/windows-readme.txt
                ${dist}/README.txt
        COMMENT "Laying out the Windows folder in ${dist}"
        VERBATIM)
    foreach(target qx-native-client mftavcdecoder qxctl zrctool)
        if(TARGET ${target})
            add_dependencies(dist ${target})
        endif()
    endforeach()
endfunction()
