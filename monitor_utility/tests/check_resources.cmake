# Reads the resources back out of the built QxrSet.exe (windres decompiles its resource
# section) and compares them, icon pixels left out, with the expected listing: every template
# with its controls, ids, positions, styles and texts, the icon groups with their image sizes,
# and the version resource.
# cmake -DWINDRES=... -DEXE=QxrSet.exe -DEXPECTED=qxrset_resources.expected -P check_resources.cmake
execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc
    OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "windres could not read the resources of ${EXE}: ${errors}")
endif()
string(REPLACE "\r" "" listing "${listing}")
string(REGEX REPLACE "\n  0x[^\n]*" "" listing "${listing}")
string(REGEX REPLACE "\n\n+" "\n" listing "${listing}")
set(expected "")
if(EXISTS ${EXPECTED})
    file(READ ${EXPECTED} expected)
endif()
if(NOT listing STREQUAL expected)
    get_filename_component(dir ${EXE} DIRECTORY)
    file(WRITE ${dir}/qxrset_resources.actual "${listing}")
    message(FATAL_ERROR "The resources of ${EXE} differ from ${EXPECTED}; they are in "
                        "${dir}/qxrset_resources.actual")
endif()
message(STATUS "QxrSet.exe resources as expected")
