include(${CMAKE_CURRENT_LIST_DIR}/KelpaSanitize.cmake)

# Every target of ours goes through here: warnings are errors in our own code (third-party
# headers come in as system includes), and the sanitizers apply when they are switched on.
function(kelpa_target name)
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
  target_compile_definitions(${name} PRIVATE QT_NO_CAST_FROM_ASCII)
  # Relocations read-only and bound at start: cheap, and what a distribution package expects.
  target_link_options(${name} PRIVATE LINKER:-z,relro,-z,now)
  kelpa_sanitize(${name})
  # Each source of a folder spends most of its compile parsing the same Qt headers: compiled in
  # batches of eight, a folder parses them once or twice (a fifth off a build from scratch).
  # Test programs are one source each anyway, and share precompiled headers instead.
  if(NOT KELPA_TEST_CODE)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  endif()
endfunction()
