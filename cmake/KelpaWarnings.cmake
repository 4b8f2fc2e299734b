include(${CMAKE_CURRENT_LIST_DIR}/KelpaSanitize.cmake)

# Every target of ours goes through here: warnings are errors in our own code (third-party
# headers come in as system includes), and the sanitizers apply when they are switched on.
function(kelpa_target name)
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
  target_compile_definitions(${name} PRIVATE QT_NO_CAST_FROM_ASCII)
  # Relocations read-only and bound at start: cheap, and what a distribution package expects.
  target_link_options(${name} PRIVATE LINKER:-z,relro,-z,now)
  kelpa_sanitize(${name})
endfunction()
