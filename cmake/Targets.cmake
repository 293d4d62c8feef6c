# Build settings shared by every target of the product and its tests.

add_library(pd_settings INTERFACE)
target_compile_options(pd_settings INTERFACE -Wall -Wextra)
target_compile_definitions(pd_settings INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 NTDDI_VERSION=0x0A00000B)
target_include_directories(pd_settings INTERFACE "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated")
# Static runtime: the exe imports only Windows system DLLs.
target_link_options(pd_settings INTERFACE -static -static-libgcc -static-libstdc++)

configure_file("${CMAKE_SOURCE_DIR}/cmake/Version.h.in" "${CMAKE_BINARY_DIR}/generated/pd/ProgramVersion.h" @ONLY)

# pd_library(<name> [SOURCES <files>...] [DEPS <targets>...])
# One library per source folder; a folder without sources yet is an interface library, so that
# the dependency direction stands in the build files from the start.
function(pd_library name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;DEPS")
    if(arg_SOURCES)
        add_library(${name} STATIC ${arg_SOURCES})
        target_link_libraries(${name} PUBLIC pd_settings ${arg_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE pd_settings ${arg_DEPS})
    endif()
endfunction()

# pd_test(<name> SOURCES <files>... [DEPS <targets>...])
# One GoogleTest exe per folder, run by CTest under Wine in the build's own prefix.
function(pd_test name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;DEPS")
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE pd_settings ${arg_DEPS} GTest::gmock GTest::gtest_main)
    add_test(NAME ${name}
        COMMAND "${CMAKE_SOURCE_DIR}/tools/run-gtest.sh" "${PD_WINEPREFIX}" $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
endfunction()

set(PD_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix the tests run in")
