# cmake -DOBJDUMP=... -DIMAGE=prog.exe -DALLOW=nt4_imports.txt -P check_nt4_image.cmake
# Fails when the 32-bit image would not load on Windows NT 4.0 (see nt4_image_rules.cmake).
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/nt4_image_rules.cmake)
qxr_check_nt4_image(${OBJDUMP} "${IMAGE}" "${ALLOW}" problems)
if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "${IMAGE} would not load on NT 4.0:\n  ${text}")
endif()
message(STATUS "${IMAGE}: versions 4.0, no delay imports, ${problems_count} imports on the NT 4.0 list")
