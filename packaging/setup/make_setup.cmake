# cmake -DMAKENSIS=makensis -DBUILD=<build tree> -DVERSION=1.0.0.2 -DARCH=win64|win32
#       -DNSI=qxr-setup.nsi -DWORK=<dir> -DLAUNCHER=<uninstall.exe> -DOUT=<setup.exe>
#       [-DNEXT_OUT=<setup.exe>] -P make_setup.cmake
# Makes the setup program from the files of the release package: the build's install rules
# (those cpack packs into the ZIP) staged into WORK/stage, the list of those files written as
# NSIS macros (WORK/setup_files.nsh: install each; QxrForEachFile / QxrForEachFolder insert a
# macro per file / folder), then makensis (the setup carries LAUNCHER as uninstall.exe, see
# uninstall_launcher.cpp). A .sha256 goes beside OUT, in the form cpack writes for the ZIP.
# NEXT_OUT: also a setup of the same files with the next version (the last of VERSION's four
# numbers plus one), for testing an upgrade; no .sha256.
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
set(each "!macro QxrForEachFile op\n")
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
    string(APPEND each "    !insertmacro \${op} \"${win}\"\n")
endforeach()
list(REMOVE_DUPLICATES folders)
set(each_folder "!macro QxrForEachFolder op\n")
foreach(d IN LISTS folders)
    string(APPEND each_folder "    !insertmacro \${op} \"${d}\"\n")
endforeach()
string(APPEND install "    SetOutPath \"$INSTDIR\"\n!macroend\n")
string(APPEND each "!macroend\n")
string(APPEND each_folder "!macroend\n")
file(WRITE "${WORK}/setup_files.nsh" "${install}${each}${each_folder}")

# make_one VERSION OUT: the setup of that version.
function(make_one version out)
    file(REMOVE "${out}")
    get_filename_component(dir "${out}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    execute_process(COMMAND ${MAKENSIS} -V2 -DVERSION=${version} -DARCH=${ARCH}
                            -DFILES=${WORK}/setup_files.nsh -DUNINSTALL_EXE=${LAUNCHER}
                            -DOUTFILE=${out} ${NSI}
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR NOT EXISTS "${out}")
        message(FATAL_ERROR "makensis did not make ${out}")
    endif()
    message(STATUS "${out} (${version})")
endfunction()

make_one(${VERSION} "${OUT}")
file(SHA256 "${OUT}" hash)
get_filename_component(name "${OUT}" NAME)
file(WRITE "${OUT}.sha256" "${hash}  ${name}\n")
if(NEXT_OUT)
    string(REGEX MATCH "^([0-9]+\\.[0-9]+\\.[0-9]+)\\.([0-9]+)$" match "${VERSION}")
    if(NOT match)
        message(FATAL_ERROR "VERSION ${VERSION} is not of four numbers")
    endif()
    math(EXPR last "${CMAKE_MATCH_2} + 1")
    make_one(${CMAKE_MATCH_1}.${last} "${NEXT_OUT}")
endif()
