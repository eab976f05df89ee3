# qxr_add_wine_test(NAME SCRIPT [ARGS arg...] [ENV VAR=value...] [TIMEOUT seconds]
#                   [PROCESSORS n] [FIRST] [FIXTURES fixture...])
#
# Registers the Wine test wine_<arch>_<NAME> (label "wine"): `bash SCRIPT ARGS...` with the
# harness's inputs in its environment (QXR_WINE_LIB, QXR_WINE_ARCH, QXR_WINE_PROBE,
# QXR_WINE_SVC, QXR_SIM_DRIVER, QXR_WINE_WORK_ROOT) plus ENV. Exit status 77 counts as
# skipped. The Wine stages run their tests side by side (ctest -j): each test has its own
# prefix, wineserver and display. PROCESSORS 2 keeps a test that measures time or CPU from
# running beside another busy one; FIRST starts a long test before the others, so that they
# run beside it rather than it alone at the end. FIXTURES: the CTest fixtures the test
# requires. In the i686 tree the driver and the service control come from the x86_64 tree
# (QXR_X64_BUILD_DIR): the tests' prefix is a 64-bit one, which loads only the x86_64 driver;
# a test that asks for a 32-bit-only prefix gets the i686 service control (QXR_WINE_SVC32).
# See tests/wine/README.md.
set(QXR_WINE_HARNESS_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QXR_X64_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/mingw-x64" CACHE PATH
    "x86_64 Windows build tree that provides qxrsimdrv.sys and qxrsvc.exe to the i686 Wine tests")

function(qxr_add_wine_test name script)
    cmake_parse_arguments(ARG "FIRST" "TIMEOUT;PROCESSORS" "ARGS;ENV;FIXTURES" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(arch x86_64)
        set(driver $<TARGET_FILE:qxrsimdrv>)
        set(svc $<TARGET_FILE:qxrsvc>)
    else()
        set(arch i686)
        set(driver ${QXR_X64_BUILD_DIR}/card_simulator/driver/qxrsimdrv.sys)
        set(svc ${QXR_X64_BUILD_DIR}/tests/wine/harness/qxrsvc.exe)
        # For a test in a 32-bit-only prefix (QXR_WINE_PREFIX_ARCH=win32), where only i686 runs.
        set(svc32 QXR_WINE_SVC32=$<TARGET_FILE:qxrsvc>)
    endif()
    set(test wine_${arch}_${name})
    add_test(NAME ${test}
        COMMAND ${CMAKE_COMMAND} -E env
            QXR_WINE_LIB=${QXR_WINE_HARNESS_SOURCE_DIR}/lib.sh
            QXR_WINE_ARCH=${arch}
            QXR_WINE_PROBE=$<TARGET_FILE:qxrprobe>
            QXR_WINE_SVC=${svc}
            ${svc32}
            QXR_SIM_DRIVER=${driver}
            QXR_WINE_WORK_ROOT=${CMAKE_BINARY_DIR}/wine-work
            ${ARG_ENV}
            bash ${script} ${ARG_ARGS})
    set_tests_properties(${test} PROPERTIES
        LABELS wine SKIP_RETURN_CODE 77 TIMEOUT ${ARG_TIMEOUT})
    if(ARG_PROCESSORS)
        set_tests_properties(${test} PROPERTIES PROCESSORS ${ARG_PROCESSORS})
    endif()
    if(ARG_FIXTURES)
        set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${ARG_FIXTURES}")
    endif()
    if(ARG_FIRST)
        set_tests_properties(${test} PROPERTIES COST 100000)
    endif()
endfunction()
