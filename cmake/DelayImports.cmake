# Delay-loaded system DLLs of Peldra.exe. Windows looks for a static import that is neither a
# KnownDLL nor an API set in the exe's own folder first, before the exe's code runs, so a DLL put
# beside a downloaded Peldra.exe would run in its elevated process. These DLLs are therefore
# delay-loaded: cli/DelayLoad.cpp loads them from System32 once wWinMain has restricted the
# search, and binds each function on its first call. tools/check-dll-imports.py fails the tests when a new import joins the ones the
# exe's folder could supply; its name then belongs here.
# (Cached, so that the tests' folders see the list too.)
set(PD_DELAY_LOADED_DLLS
    bcrypt crypt32 d2d1 dnsapi dwmapi dwrite iphlpapi msi secur32 userenv uxtheme winhttp wintrust wtsapi32
    CACHE INTERNAL "")
set(PD_DELAY_IMPORT_FOLDER "${CMAKE_BINARY_DIR}/delay-imports" CACHE INTERNAL "")

# pd_delay_import_library(<output lib.a> <import library or .def>)
# A delay-import library: of every function an import library holds, or of those a .def lists.
function(pd_delay_import_library output input)
    if(input MATCHES "\\.def$")
        add_custom_command(OUTPUT "${output}"
            COMMAND "${CMAKE_COMMAND}" -E rm -f "${output}"
            COMMAND "${CMAKE_DLLTOOL}" --input-def "${input}" --output-delaylib "${output}"
            DEPENDS "${input}" VERBATIM)
    else()
        set(script "${CMAKE_SOURCE_DIR}/cmake/MakeDelayImportLibrary.cmake")
        add_custom_command(OUTPUT "${output}"
            COMMAND "${CMAKE_COMMAND}" "-DIMPORT_LIBRARY=${input}" "-DOUTPUT=${output}"
                "-DDLLTOOL=${CMAKE_DLLTOOL}" "-DNM=${CMAKE_NM}" -P "${script}"
            DEPENDS "${input}" "${script}" VERBATIM)
    endif()
endfunction()

set(delay_import_libraries "")
foreach(name IN LISTS PD_DELAY_LOADED_DLLS)
    find_library(PD_IMPORT_LIBRARY_${name} NAMES ${name} REQUIRED)
    set(output "${PD_DELAY_IMPORT_FOLDER}/lib${name}.a")
    pd_delay_import_library("${output}" "${PD_IMPORT_LIBRARY_${name}}")
    list(APPEND delay_import_libraries "${output}")
endforeach()
add_custom_target(pd_delay_imports DEPENDS ${delay_import_libraries})

# The same names for the program, which loads them from System32 as it starts.
list(TRANSFORM PD_DELAY_LOADED_DLLS REPLACE "(.+)" "L\"\\1.dll\"" OUTPUT_VARIABLE dll_texts)
list(JOIN dll_texts ", " dll_texts)
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/generated/pd/DelayLoadedDlls.h" CONTENT
"// Generated from PD_DELAY_LOADED_DLLS (cmake/DelayImports.cmake): the system DLLs Peldra.exe delay-loads.
#pragma once

namespace Pd
{
inline constexpr const wchar_t* DelayLoadedDlls[] = {${dll_texts}};
} // namespace Pd
")

# The helper every thunk calls; an object library, since the delay-import libraries that need it
# come last on the link line, after any static library could have supplied it.
add_library(pd_delay_load OBJECT "${CMAKE_SOURCE_DIR}/cli/DelayLoad.cpp")
target_link_libraries(pd_delay_load PRIVATE pd_core)

# pd_delay_load_system_dlls(<exe target>)
# The exe links the delay-import libraries in place of the import libraries of the same names:
# "-lbcrypt" finds the one in the delay-import folder, searched before the toolchain's own.
function(pd_delay_load_system_dlls target)
    add_dependencies(${target} pd_delay_imports)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:pd_delay_load>)
    target_link_directories(${target} PRIVATE "${PD_DELAY_IMPORT_FOLDER}")
    set(libraries "")
    foreach(name IN LISTS PD_DELAY_LOADED_DLLS)
        list(APPEND libraries "${PD_DELAY_IMPORT_FOLDER}/lib${name}.a")
    endforeach()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
endfunction()
