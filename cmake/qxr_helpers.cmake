# qxr_add_native_test(NAME SOURCES... LIBS...) - a GoogleTest executable labelled "native".
# The fuzz tree defines the executable (not built there) but registers no tests.
function(qxr_add_native_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    if(QXR_FUZZ)
        return()
    endif()
    gtest_discover_tests(${name} PROPERTIES LABELS native DISCOVERY_TIMEOUT 60)
endfunction()

# qxr_add_resource_check(TARGET EXPECT_FILE) - a test (labelled "native": it needs no Windows)
# that reads the resources back out of the built program and compares them with EXPECT_FILE.
function(qxr_add_resource_check target expect)
    add_test(NAME ${target}_resources
        COMMAND ${CMAKE_COMMAND} -DWINDRES=${CMAKE_RC_COMPILER} -DEXE=$<TARGET_FILE:${target}>
                -DEXPECT=${expect} -P ${CMAKE_SOURCE_DIR}/cmake/check_resources.cmake)
    set_tests_properties(${target}_resources PROPERTIES LABELS native)
endfunction()

# qxr_add_fuzz_target(NAME SOURCES... LIBS... CORPUS DIR SECONDS N) - a libFuzzer program over
# the portable code, and the test NAME (labelled "fuzz") that runs it for N seconds on a
# temporary copy of the corpus DIR kept in the repository. Only in the fuzz tree.
function(qxr_add_fuzz_target name)
    cmake_parse_arguments(ARG "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name}
        COMMAND bash ${CMAKE_SOURCE_DIR}/tests/fuzz/run_fuzz_target.sh
                $<TARGET_FILE:${name}> ${ARG_CORPUS} ${ARG_SECONDS})
    math(EXPR timeout "${ARG_SECONDS} + 120")
    set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT ${timeout})
endfunction()
