# qxr_add_native_test(NAME SOURCES... LIBS...) - a GoogleTest executable labelled "native".
function(qxr_add_native_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name} PROPERTIES LABELS native DISCOVERY_TIMEOUT 60)
endfunction()
