# `format` rewrites our C and C++ sources after .clang-format; `format-check` fails, naming the
# files, when one of them has drifted from it. The file list and clang-format itself are looked
# up when the target runs: a new file is covered, and the formatter may be installed after
# configuring (the test script installs it while the builds run).

foreach(mode IN ITEMS format check)
  set(target format)
  if(mode STREQUAL "check")
    set(target format-check)
  endif()
  add_custom_target(${target}
    COMMAND ${CMAKE_COMMAND} -DMODE=${mode}
            -DROOT=${PROJECT_SOURCE_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/clangformat.cmake
    USES_TERMINAL VERBATIM)
endforeach()
