# cmake -DMAKENSIS=makensis -DBUILD=<build tree> -DVERSION=1.0.0.2 -DARCH=win64|win32
#       -DNSI=qxr-setup.nsi -DWORK=<dir> -DOUT=<setup.exe> -P make_setup.cmake
# Makes the setup program from the files of the release package: the build's install rules
# (those cpack packs into the ZIP) staged into WORK/stage, the list of those files written as
# NSIS macros (WORK/setup_files.nsh: install each, remove each), then makensis. A .sha256 goes
# beside OUT, in the form cpack writes for the ZIP.
cmake_minimum_required(VERSION 3.25)
set(stage "${WORK}/stage")
file(REMOVE_RECURSE "${stage}")
file(REMOVE "${OUT}" "${OUT}.sha256")
get_filename_component(out_dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${stage}"
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot stage the package's files from ${BUILD}")
endif()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
list(SORT files)
set(install "!macro QxrInstallFiles\n")
set(remove "!macro QxrRemoveFiles\n")
set(folders "")
set(current "-")
foreach(f IN LISTS files)
    get_filename_component(dir "${f}" DIRECTORY)
    string(REPLACE "/" "\\" win "${f}")
    string(REPLACE "/" "\\" windir "${dir}")
    if(NOT dir STREQUAL current)
        if(dir STREQUAL "")
            string(APPEND install "    SetOutPath \"$INSTDIR\"\n")
        else()
            string(APPEND install "    SetOutPath \"$INSTDIR\\${windir}\"\n")
            list(APPEND folders "${windir}")
        endif()
        set(current "${dir}")
    endif()
    string(APPEND install "    File \"${stage}/${f}\"\n")
    string(APPEND remove "    Delete \"$INSTDIR\\${win}\"\n")
endforeach()
list(REMOVE_DUPLICATES folders)
foreach(d IN LISTS folders)
    string(APPEND remove "    RMDir \"$INSTDIR\\${d}\"\n")
endforeach()
string(APPEND install "    SetOutPath \"$INSTDIR\"\n!macroend\n")
string(APPEND remove "!macroend\n")
file(WRITE "${WORK}/setup_files.nsh" "${install}${remove}")

execute_process(COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DARCH=${ARCH}
                        -DFILES=${WORK}/setup_files.nsh -DOUTFILE=${OUT} ${NSI}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${OUT}")
    message(FATAL_ERROR "makensis did not make ${OUT}")
endif()
file(SHA256 "${OUT}" hash)
get_filename_component(name "${OUT}" NAME)
file(WRITE "${OUT}.sha256" "${hash}  ${name}\n")
message(STATUS "${OUT}")
