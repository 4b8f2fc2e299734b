# Runs clang-format over the repository's tracked C and C++ sources (cmake -P; see
# KelpaFormat.cmake). MODE is "format" (rewrite in place) or "check" (fail on drift).
cmake_minimum_required(VERSION 3.22)
find_program(CLANG_FORMAT NAMES clang-format-14 clang-format)
if(NOT CLANG_FORMAT)
  message(FATAL_ERROR "clang-format is not installed (Debian package clang-format)")
endif()

execute_process(
  COMMAND git ls-files -- *.c *.cpp *.h
  WORKING_DIRECTORY ${ROOT}
  OUTPUT_VARIABLE files
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "format: ${ROOT} is not a git checkout")
endif()
string(REPLACE "\n" ";" files "${files}")
list(FILTER files EXCLUDE REGEX "^$")

if(MODE STREQUAL "format")
  execute_process(COMMAND ${CLANG_FORMAT} -i ${files} WORKING_DIRECTORY ${ROOT}
                  COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

execute_process(
  COMMAND ${CLANG_FORMAT} --dry-run --Werror ${files}
  WORKING_DIRECTORY ${ROOT}
  ERROR_VARIABLE report
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  string(REGEX MATCHALL "[^\n]+: error: code should be clang-formatted" drifted "${report}")
  string(REGEX REPLACE ":[0-9]+:[0-9]+: error: code should be clang-formatted" "" drifted
                       "${drifted}")
  list(REMOVE_DUPLICATES drifted)
  list(JOIN drifted "\n  " drifted)
  message(FATAL_ERROR "format-check: these files differ from .clang-format "
                      "(cmake --build BUILD --target format):\n  ${drifted}")
endif()
