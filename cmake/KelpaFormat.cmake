# `format` rewrites our C and C++ sources after .clang-format; `format-check` fails, naming the
# files, when one of them has drifted from it. The file list is taken when the target runs, so a
# new file is covered without reconfiguring.
find_program(KELPA_CLANG_FORMAT NAMES clang-format-14 clang-format)

foreach(mode IN ITEMS format check)
  set(target format)
  if(mode STREQUAL "check")
    set(target format-check)
  endif()
  add_custom_target(${target}
    COMMAND ${CMAKE_COMMAND} -DMODE=${mode} -DCLANG_FORMAT=${KELPA_CLANG_FORMAT}
            -DROOT=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/clangformat.cmake
    USES_TERMINAL VERBATIM)
endforeach()
