# qxr_add_native_test(NAME SOURCES... LIBS...) - a GoogleTest executable labelled "native".
function(qxr_add_native_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name} PROPERTIES LABELS native DISCOVERY_TIMEOUT 60)
endfunction()

# qxr_add_version_resource_test(NAME TARGET EXPECTATIONS...) - Windows trees: a test labelled
# "native" that reads TARGET's built version resource (no Windows needed) and fails unless it
# matches, e.g. --file-version 1.3.0.0 "FileDescription=Quoxar DLL"
# (cmake/check_version_resource.py).
function(qxr_add_version_resource_test name target)
    find_program(QXR_PYTHON3 python3 REQUIRED)
    add_test(NAME ${name}
        COMMAND ${QXR_PYTHON3} ${CMAKE_SOURCE_DIR}/cmake/check_version_resource.py
                $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${name} PROPERTIES LABELS native)
endfunction()
