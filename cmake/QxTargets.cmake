# Helpers shared by every folder's CMakeLists.txt.

set(QX_SCRIPTS_DIR ${CMAKE_SOURCE_DIR}/scripts)

if(QX_SANITIZE)
    add_compile_options(-fsanitize=${QX_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    # GCC 12's flow analysis, thrown off by the sanitizer checks, reports uninitialised values inside
    # libstdc++ (<regex>, std::function) when optimising.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-Wno-maybe-uninitialized)
    endif()
    add_link_options(-fsanitize=${QX_SANITIZE})
endif()
if(QX_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Every warning on our own code; errors when QX_WERROR is on.
function(qx_target_flags target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(QX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# qx_add_library(name SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...]): one static library per folder.
function(qx_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    qx_target_flags(${name})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# qx_add_test(name SOURCES ... LIBS ... [LABELS ...]): one GoogleTest program per module, registered in CTest.
function(qx_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    qx_target_flags(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
    if(CMAKE_CROSSCOMPILING)
        # Under wine each start of a program costs far more than a test case: one CTest test per program.
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES LABELS "wine;${ARG_LABELS}" FIXTURES_REQUIRED wine TIMEOUT 600)
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()

# qx_add_fuzzer(name SOURCES ... LIBS ... [CORPUS dir] [SECONDS n]): a libFuzzer program, run briefly by CTest
# on a copy of its seed corpus.
function(qx_add_fuzzer name)
    cmake_parse_arguments(ARG "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_SECONDS)
        set(ARG_SECONDS 20)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    qx_target_flags(${name})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    add_dependencies(fuzzers ${name})
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    set(seed_arg "")
    if(ARG_CORPUS)
        set(seed_arg ${ARG_CORPUS})
    endif()
    add_test(NAME ${name}
             COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1
                     ${QX_SCRIPTS_DIR}/run-fuzzer $<TARGET_FILE:${name}> ${work} ${ARG_SECONDS} ${seed_arg})
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# qx_add_bench(name SOURCES ... LIBS ...): a Google Benchmark program, run by `make bench`, never by the tests.
function(qx_add_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    qx_target_flags(${name})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
    add_dependencies(benches ${name})
endfunction()

# Adds every subfolder of the current folder that has a CMakeLists.txt, so a module adds its tests without
# touching a shared list.
function(qx_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
