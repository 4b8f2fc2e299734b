# AddressSanitizer and UndefinedBehaviorSanitizer on our own targets only: the libraries we link
# from the system are not rebuilt, and a target outside ours (a fuzzing driver with its own
# flags) is left as it is configured.
option(KELPA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(kelpa_sanitize name)
  if(NOT KELPA_SANITIZE)
    return()
  endif()
  # -O1 is what the sanitizers are tuned for, and line tables (-g1) are all their reports
  # need; together they build the instrumented tree a third faster than -O2 -g. Test code
  # keeps the quicker level its folder sets.
  target_compile_options(${name} PRIVATE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  # What a test may not assert under the sanitizers (a bound on the resident size) it leaves out
  # by this, the same under gcc and clang: only gcc says __SANITIZE_ADDRESS__.
  target_compile_definitions(${name} PRIVATE KELPA_SANITIZED)
  if(NOT KELPA_TEST_CODE)
    target_compile_options(${name} PRIVATE -O1 -g1)
    # With the fuzz targets in the same build (clang only), the code they reach carries
    # libFuzzer's coverage hooks; in every other program the sanitizer runtime makes them no-ops.
    if(KELPA_FUZZ)
      target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
  endif()
  # A static library's objects end up in a program or shared library of ours, and that one
  # links the runtimes.
  get_target_property(type ${name} TYPE)
  if(NOT type STREQUAL "STATIC_LIBRARY")
    target_link_options(${name} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()
