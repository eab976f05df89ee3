# cmake -DOBJDUMP=... -DIMPORT_LIBRARY=libqxrtime.a -DOBJECTS="a.obj|b.obj" -P check_stdcall_names.cmake
# 32-bit only. Fails unless the nine exports are compiled as __stdcall (the DLL's own object
# defines _Name@bytes) and the import library maps exactly those decorated names, which are
# what every other client program of the DLL is built against.
set(expected
    QxrGetDriverVersion@4 QxrGetFwChecksum@4 QxrGetFwVersion@4 QxrGetHwSignature@8
    QxrGetHwStatus@4 QxrGetPosition@4 QxrGetSignalQuality@4 QxrGetTime@4 QxrSetTime@4)

function(symbols_of file pattern out)
    execute_process(COMMAND ${OBJDUMP} -t ${file} OUTPUT_VARIABLE dump ERROR_VARIABLE ignored
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -t ${file} failed (${rc})")
    endif()
    string(REGEX MATCHALL "${pattern}" found "${dump}")
    set(${out} ${found} PARENT_SCOPE)
endfunction()

function(check what actual prefix)
    set(names)
    foreach(symbol IN LISTS actual)
        string(REGEX REPLACE "^.* ${prefix}" "" name "${symbol}")
        list(APPEND names ${name})
    endforeach()
    list(REMOVE_DUPLICATES names)
    list(SORT names)
    if(NOT names STREQUAL expected)
        message(FATAL_ERROR "${what}:\n  ${names}\nexpected:\n  ${expected}")
    endif()
    message(STATUS "${what}: ${names}")
endfunction()

# Defined external symbols in objdump's table: "(sec  N)... (scl   2) (nx 0) 0x... name".
set(defined_row "\\(sec +[1-9][0-9]*\\)[^\n]*\\(scl +2\\) \\(nx 0\\) 0x[0-9a-f]+ ")
symbols_of(${IMPORT_LIBRARY} "${defined_row}__imp__Qxr[A-Za-z]+(@[0-9]+)?" imported)
check("import library ${IMPORT_LIBRARY}" "${imported}" "__imp__")

string(REPLACE "|" ";" objects "${OBJECTS}")
set(defined)
foreach(object IN LISTS objects)
    if(object MATCHES "qxrtime_dll")
        symbols_of(${object} "${defined_row}_Qxr[A-Za-z]+(@[0-9]+)?" found)
        list(APPEND defined ${found})
    endif()
endforeach()
check("exports defined by the DLL's code" "${defined}" "_")
