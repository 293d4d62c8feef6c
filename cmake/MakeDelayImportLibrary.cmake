# Makes a delay-import library from a system DLL's import library: the same functions under the
# same names, each resolved by __delayLoadHelper2 on its first call instead of by the loader at
# start. Data exports are left out (a delay-loaded DLL cannot supply them; a use fails to link).
# Usage: cmake -DIMPORT_LIBRARY=<lib.a> -DOUTPUT=<lib.a> -DDLLTOOL=<dlltool> -DNM=<nm> -P <this>
cmake_minimum_required(VERSION 3.25)
foreach(variable IMPORT_LIBRARY OUTPUT DLLTOOL NM)
    if(NOT ${variable})
        message(FATAL_ERROR "MakeDelayImportLibrary: ${variable} is not set")
    endif()
endforeach()

execute_process(COMMAND "${DLLTOOL}" --identify "${IMPORT_LIBRARY}"
    OUTPUT_VARIABLE dll ERROR_VARIABLE problem RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
if(failed OR NOT dll MATCHES "^[A-Za-z0-9_.-]+$")
    message(FATAL_ERROR "${IMPORT_LIBRARY} names no single DLL: ${dll} ${problem}")
endif()

execute_process(COMMAND "${NM}" --defined-only "${IMPORT_LIBRARY}"
    OUTPUT_VARIABLE symbols ERROR_VARIABLE problem RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${NM} could not read ${IMPORT_LIBRARY}: ${problem}")
endif()
# A function has its thunk (T name) and its address slot (I __imp_name); data only the slot.
string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_@?$]+" thunks "${symbols}")
string(REGEX MATCHALL "[0-9a-f]+ I __imp_[A-Za-z0-9_@?$]+" slots "${symbols}")
set(functions "")
foreach(thunk IN LISTS thunks)
    string(REGEX REPLACE "^[0-9a-f]+ T " "" name "${thunk}")
    list(APPEND functions "${name}")
endforeach()
set(exports "")
foreach(slot IN LISTS slots)
    string(REGEX REPLACE "^[0-9a-f]+ I __imp_" "" name "${slot}")
    if(name IN_LIST functions)
        string(APPEND exports "    ${name}\n")
    endif()
endforeach()
if(exports STREQUAL "")
    message(FATAL_ERROR "${IMPORT_LIBRARY} holds no functions")
endif()

set(definition "${OUTPUT}.def")
file(WRITE "${definition}" "LIBRARY \"${dll}\"\nEXPORTS\n${exports}")
file(REMOVE "${OUTPUT}")
execute_process(COMMAND "${DLLTOOL}" --input-def "${definition}" --output-delaylib "${OUTPUT}"
    ERROR_VARIABLE problem RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${DLLTOOL} could not make ${OUTPUT}: ${problem}")
endif()
