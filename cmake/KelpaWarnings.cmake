# Warnings are errors in our own code; third-party headers come in as system includes.
function(kelpa_target name)
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
  target_compile_definitions(${name} PRIVATE QT_NO_CAST_FROM_ASCII)
  # Relocations read-only and bound at start: cheap, and what a distribution package expects.
  target_link_options(${name} PRIVATE LINKER:-z,relro,-z,now)
endfunction()

if(KELPA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
