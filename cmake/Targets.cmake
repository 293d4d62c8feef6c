# Build settings and target helpers shared by the product and its tests, in both configurations.

# The native configuration checks everything with the sanitizers; a benchmark build turns them off.
option(PD_NATIVE_SANITIZE "Build the native configuration with sanitizers and fuzzing instrumentation" ON)
if(PD_NATIVE_SANITIZE)
    set(PD_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
endif()
set(PD_FUZZ_SECONDS 60 CACHE STRING "How long each fuzz target runs under CTest")
set(PD_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")

configure_file("${CMAKE_SOURCE_DIR}/cmake/Version.h.in" "${CMAKE_BINARY_DIR}/generated/pd/ProgramVersion.h" @ONLY)

add_library(pd_settings INTERFACE)
target_compile_options(pd_settings INTERFACE -Wall -Wextra)
target_include_directories(pd_settings INTERFACE "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated")
if(PD_NATIVE)
    # Coverage instrumentation everywhere, so that the fuzz targets are guided through the libraries.
    if(PD_NATIVE_SANITIZE)
        target_compile_options(pd_settings INTERFACE ${PD_SANITIZE} -fsanitize=fuzzer-no-link)
        target_link_options(pd_settings INTERFACE ${PD_SANITIZE})
    endif()
else()
    # _GLIBCXX_USE_POSIX_SEMAPHORE: without a futex, GCC 12's std::binary_semaphore (atomic wait)
    # can lose a wake-up, and ~std::stop_callback, waiting for a callback that request_stop runs on
    # another thread, then hangs for ever. winpthreads' sem_t has no such fault.
    target_compile_definitions(pd_settings INTERFACE
        UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 NTDDI_VERSION=0x0A00000B
        _GLIBCXX_USE_POSIX_SEMAPHORE=1)
    # Static runtime: the exe imports only Windows system DLLs.
    target_link_options(pd_settings INTERFACE -static -static-libgcc -static-libstdc++)
endif()

function(pd_add_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;DEPS")
    if(arg_SOURCES)
        add_library(${name} STATIC ${arg_SOURCES})
        target_link_libraries(${name} PUBLIC pd_settings ${arg_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE pd_settings ${arg_DEPS})
    endif()
endfunction()

# pd_library(<name> [SOURCES <files>...] [DEPS <targets>...])
# A Windows library: one per source folder. A folder without sources yet is an interface
# library, so that the dependency direction stands in the build files from the start.
function(pd_library name)
    if(NOT PD_NATIVE)
        pd_add_library(${ARGV})
    endif()
endfunction()

# pd_portable_library(<name> SOURCES <files>... [DEPS <portable targets>...])
# A platform-free library (no <windows.h>, bytes in and out): built in both configurations.
function(pd_portable_library name)
    pd_add_library(${ARGV})
endfunction()

function(pd_add_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;DEPS;ARGS")
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE pd_settings ${arg_DEPS} GTest::gmock GTest::gtest_main)
    if(PD_NATIVE)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    else()
        add_test(NAME ${name}
            COMMAND "${CMAKE_SOURCE_DIR}/tools/run-gtest.sh" "${PD_WINEPREFIX}" $<TARGET_FILE:${name}> ${arg_ARGS})
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
    endif()
endfunction()

# pd_test(<name> SOURCES <files>... [DEPS <targets>...] [ARGS <test exe arguments>...])
# The GoogleTest exe of one test folder, run by CTest under Wine in the build's own prefix.
function(pd_test name)
    if(NOT PD_NATIVE)
        pd_add_test(${ARGV})
    endif()
endfunction()

# pd_portable_test(<name> SOURCES <files>... [DEPS <portable targets>...])
# Tests of a platform-free library: run under Wine in the windows configuration and natively,
# with the sanitizers, in the native one.
function(pd_portable_test name)
    pd_add_test(${ARGV})
endfunction()

# pd_fuzzer(<name> SOURCES <files>... DEPS <portable targets>... CORPUS <folder>)
# A libFuzzer target (native configuration only). CTest runs it for PD_FUZZ_SECONDS on a
# scratch copy of its committed seed corpus, so that new inputs never land in the sources.
function(pd_fuzzer name)
    if(NOT PD_NATIVE)
        return()
    endif()
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORPUS" "SOURCES;DEPS")
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE pd_settings ${arg_DEPS})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name}
        COMMAND "${CMAKE_SOURCE_DIR}/tools/run-fuzzer.sh" $<TARGET_FILE:${name}> "${arg_CORPUS}"
                "${CMAKE_CURRENT_BINARY_DIR}/${name}-work" ${PD_FUZZ_SECONDS})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900 LABELS fuzz)
endfunction()
