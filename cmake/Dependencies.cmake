# Third-party libraries, built from the sources that tools/setup.sh fetched from Debian's
# source packages into .deps/src (or PD_DEPS_DIR).
set(PD_DEPS_DIR "${CMAKE_SOURCE_DIR}/.deps/src" CACHE PATH "Folder holding the zstd and fmt sources")
foreach(dep zstd fmt)
    if(NOT EXISTS "${PD_DEPS_DIR}/${dep}/.complete")
        message(FATAL_ERROR "The ${dep} sources are missing from ${PD_DEPS_DIR}: run tools/setup.sh first.")
    endif()
endforeach()

# zstd: decompression only. Windows builds have no assembly fast path.
file(GLOB PD_ZSTD_SOURCES CONFIGURE_DEPENDS
    "${PD_DEPS_DIR}/zstd/lib/common/*.c"
    "${PD_DEPS_DIR}/zstd/lib/decompress/*.c")
add_library(zstd_decompress STATIC ${PD_ZSTD_SOURCES})
target_compile_definitions(zstd_decompress PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0 XXH_NAMESPACE=ZSTD_)
target_compile_options(zstd_decompress PRIVATE -O2 -w)
target_include_directories(zstd_decompress SYSTEM PUBLIC "${PD_DEPS_DIR}/zstd/lib")

# {fmt}: compiled once instead of header-only in every translation unit.
add_library(fmt STATIC "${PD_DEPS_DIR}/fmt/src/format.cc" "${PD_DEPS_DIR}/fmt/src/os.cc")
target_compile_options(fmt PRIVATE -O2 -w)
target_include_directories(fmt SYSTEM PUBLIC "${PD_DEPS_DIR}/fmt/include")

# GoogleTest from Debian's source package.
set(PD_GTEST_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(PD_BUILD_TESTS)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory("${PD_GTEST_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
endif()

# The native configuration checks every target, the libraries above included, with the sanitizers.
if(PD_NATIVE)
    foreach(target zstd_decompress fmt)
        target_compile_options(${target} PUBLIC ${PD_SANITIZE})
        target_link_options(${target} PUBLIC ${PD_SANITIZE})
    endforeach()
endif()
