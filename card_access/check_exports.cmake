# cmake -DOBJDUMP=... -DDLL=qxrtime.dll [-DEXPECTED=name;name...] -P check_exports.cmake
# Fails unless the DLL's export table holds exactly the nine plain names (or the sorted names
# EXPECTED, for another DLL).
set(expected
    QxrGetDriverVersion QxrGetFwChecksum QxrGetFwVersion QxrGetHwSignature QxrGetHwStatus
    QxrGetPosition QxrGetSignalQuality QxrGetTime QxrSetTime)
if(DEFINED EXPECTED)
    set(expected ${EXPECTED})
endif()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump -p ${DLL} failed (${rc})")
endif()

# The name pointer table: lines "\t[   n] +base[   m]  0x.... Name" after "[Ordinal/Name Pointer] Table".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(REGEX REPLACE "\n[ \t]*\n.*" "" table "${table}")
string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]+" rows "${table}")
set(names)
foreach(row IN LISTS rows)
    string(REGEX REPLACE "^\\[[ 0-9]+\\] +" "" name "${row}")
    string(STRIP "${name}" name)
    list(APPEND names "${name}")
endforeach()
list(SORT names)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exports of ${DLL}:\n  ${names}\nexpected:\n  ${expected}")
endif()
message(STATUS "${DLL}: exports ${names}")
