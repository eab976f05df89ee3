# qxr_add_native_test(NAME SOURCES... LIBS...) - a GoogleTest executable labelled "native".
function(qxr_add_native_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
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
