# cmake -DMAKENSIS=makensis -DOBJDUMP=... -DNSI=qxr-setup.nsi -DARCH=win32 -DVERSION=...
#       -DSETUP=<built setup.exe> -DALLOW=nt4_imports.txt -DWORK=dir -P check_setup_nt4.cmake
# The setup's own code must load on NT 4.0 too: its NSIS stub (the header of the built setup,
# and of a setup made here from the same .nsi without our files, whose stub makensis names) and
# every plug-in the script calls (found in the preprocessed script: a line starting "Name::").
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/nt4_image_rules.cmake)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/no_files.nsh" "!macro QxrInstallFiles\n!macroend\n!macro QxrRemoveFiles\n!macroend\n"
     "!macro QxrForEachFile op\n!macroend\n!macro QxrForEachFolder op\n!macroend\n")
set(defines -DVERSION=${VERSION} -DARCH=${ARCH} -DFILES=${WORK}/no_files.nsh
            -DOUTFILE=${WORK}/stub.exe -DUNINSTALL_EXE=${SETUP})

execute_process(COMMAND ${MAKENSIS} -HDRINFO OUTPUT_VARIABLE info)
if(NOT info MATCHES "NSISDIR=([^,\n]+)")
    message(FATAL_ERROR "makensis -HDRINFO names no NSISDIR")
endif()
set(nsisdir "${CMAKE_MATCH_1}")

execute_process(COMMAND ${MAKENSIS} -V3 ${defines} ${NSI} OUTPUT_VARIABLE log RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT log MATCHES "writing output \\(([^)]+)\\)")
    message(FATAL_ERROR "makensis cannot make the setup without files:\n${log}")
endif()
set(target "${CMAKE_MATCH_1}")

execute_process(COMMAND ${MAKENSIS} -SAFEPPO ${defines} ${NSI} OUTPUT_VARIABLE script
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "makensis cannot preprocess ${NSI}")
endif()
string(REGEX MATCHALL "\n[ \t]*[A-Za-z0-9_]+::" calls "\n${script}")
set(plugins "")
foreach(call IN LISTS calls)
    string(REGEX REPLACE "[\n \t]|::" "" name "${call}")
    list(APPEND plugins "${name}")
endforeach()
list(REMOVE_DUPLICATES plugins)
if(NOT plugins)
    message(FATAL_ERROR "no plug-in call found in the preprocessed ${NSI} (not understood)")
endif()

set(images "${WORK}/stub.exe" "${SETUP}")
foreach(name IN LISTS plugins)
    set(dll "${nsisdir}/Plugins/${target}/${name}.dll")
    if(NOT EXISTS "${dll}")
        message(FATAL_ERROR "the script calls ${name}::, but there is no ${dll}")
    endif()
    list(APPEND images "${dll}")
endforeach()

set(failed "")
foreach(image IN LISTS images)
    qxr_check_nt4_image(${OBJDUMP} "${image}" "${ALLOW}" problems)
    if(problems)
        list(JOIN problems "\n  " text)
        string(APPEND failed "${image} would not load on NT 4.0:\n  ${text}\n")
    else()
        message(STATUS "${image}: versions 4.0, no delay imports, ${problems_count} imports on the NT 4.0 list")
    endif()
endforeach()
if(failed)
    message(FATAL_ERROR "${failed}")
endif()
