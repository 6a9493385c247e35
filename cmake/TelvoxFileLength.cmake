# Fails when a source file has more than 600 lines, unless its first comment says why it may:
# that comment names the limit ("over 600 lines because ..."). Run as a test:
#   cmake -DTELVOX_LENGTH_ROOT=<source dir> -P cmake/TelvoxFileLength.cmake
cmake_minimum_required(VERSION 3.25)
set(limit 600)
if(NOT TELVOX_LENGTH_ROOT)
  message(FATAL_ERROR "TELVOX_LENGTH_ROOT is not set")
endif()

set(files "")
foreach(dir src tests tools bench fuzz)
  file(GLOB_RECURSE found "${TELVOX_LENGTH_ROOT}/${dir}/*.cpp" "${TELVOX_LENGTH_ROOT}/${dir}/*.h"
    "${TELVOX_LENGTH_ROOT}/${dir}/*.py")
  list(APPEND files ${found})
endforeach()

set(problems "")
foreach(file IN LISTS files)
  # The number of newlines, counted as list elements: characters that would split or join
  # list elements go first (plain replacements are much faster than a regular expression).
  file(READ "${file}" text)
  foreach(c ";" "\\" "[" "]")
    string(REPLACE "${c}" "" text "${text}")
  endforeach()
  string(REPLACE "\n" ";" text "${text}")
  list(LENGTH text count)
  math(EXPR count "${count} - 1")
  if(count LESS_EQUAL limit)
    continue()
  endif()
  file(STRINGS "${file}" lines)
  # The first comment: its leading run of comment lines ("//" or "#"), blank lines skipped.
  set(comment "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line MATCHES "^(//|#[^a-z])" OR line STREQUAL "#")
      if(line MATCHES "^#(include|pragma|define|if)")
        break()
      endif()
      string(APPEND comment " ${line}")
    elseif(NOT line STREQUAL "")
      break()
    endif()
  endforeach()
  if(NOT comment MATCHES "${limit} lines")
    file(RELATIVE_PATH rel "${TELVOX_LENGTH_ROOT}" "${file}")
    list(APPEND problems "${rel}: ${count} lines, and its first comment does not say why it is over ${limit} lines")
  endif()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "source files too long:\n  ${text}")
endif()
