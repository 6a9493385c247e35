# The folders of src/ in layer order, lowest first (docs/architecture.md explains each).
# A source file may include headers of its own folder and of folders on earlier lines only.
# Folders named on one line are siblings: neither may include the other. A folder is the
# longest listed prefix of a file's path, so src/platform/codec/truespeech/X.h belongs to
# "platform/codec/truespeech", not to "platform/codec". A new folder must be added here.
# The line backends' folders (cmake/TelvoxBackends.cmake) are siblings on one line.
include(${CMAKE_CURRENT_LIST_DIR}/TelvoxBackends.cmake)
list(TRANSFORM TELVOX_LINE_BACKENDS PREPEND "platform/telephony/" OUTPUT_VARIABLE TELVOX_BACKEND_LAYER)
list(JOIN TELVOX_BACKEND_LAYER "|" TELVOX_BACKEND_LAYER)
set(TELVOX_LAYERS
  "core"
  "platform/codec/truespeech|platform/tonsig|platform/shell"
  "platform/codec|platform/wave|platform/media|platform/telephony"
  "${TELVOX_BACKEND_LAYER}"
  "sim/audio"
  "sim/tones"
  "sim/exchange"
  "records"
  "telephony"
  "audio"
  "mqtt"
  "ui|web"
  "app"
)

# The listed folder `path` lies in (the first of `units` that is a prefix of it; the units come
# longest first), or "" when none is.
function(_telvox_layer_folder path units out)
  foreach(unit IN LISTS units)
    string(FIND "${path}" "${unit}/" at)
    if(at EQUAL 0)
      set(${out} ${unit} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# Fails the configuration when a file of src/ includes a header of a folder above its own,
# or of a sibling, or lies in a folder the table does not name. Runs at every configure.
function(telvox_check_layers src_dir)
  set(units "")
  set(rank 0)
  foreach(layer IN LISTS TELVOX_LAYERS)
    string(REPLACE "|" ";" members "${layer}")
    foreach(member IN LISTS members)
      set("rank_${member}" ${rank})
      list(APPEND units ${member})
    endforeach()
    math(EXPR rank "${rank} + 1")
  endforeach()
  # Longest prefixes first, so that the innermost listed folder wins.
  set(by_length "")
  foreach(unit IN LISTS units)
    string(LENGTH "${unit}" n)
    math(EXPR key "1000 + ${n}")
    list(APPEND by_length "${key}:${unit}")
  endforeach()
  list(SORT by_length ORDER DESCENDING)
  list(TRANSFORM by_length REPLACE "^[0-9]+:" "")

  file(GLOB_RECURSE files RELATIVE "${src_dir}" "${src_dir}/*.h" "${src_dir}/*.cpp")
  set(problems "")
  foreach(file IN LISTS files)
    _telvox_layer_folder("${file}" "${by_length}" from)
    if(from STREQUAL "")
      string(APPEND problems "\n  ${file}: its folder is not in TELVOX_LAYERS (cmake/TelvoxLayers.cmake)")
      continue()
    endif()
    file(STRINGS "${src_dir}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+/[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*$" "\\1" header "${line}")
      if(NOT EXISTS "${src_dir}/${header}")
        continue() # a generated header or one of a library
      endif()
      _telvox_layer_folder("${header}" "${by_length}" to)
      if(to STREQUAL "" OR to STREQUAL from)
        continue()
      endif()
      if(${rank_${to}} GREATER ${rank_${from}})
        string(APPEND problems "\n  ${file} includes ${header}: ${to} lies above ${from}")
      elseif(${rank_${to}} EQUAL ${rank_${from}})
        string(APPEND problems "\n  ${file} includes ${header}: ${to} and ${from} are siblings")
      endif()
    endforeach()
  endforeach()
  if(problems)
    message(FATAL_ERROR "Folder layers of src/ broken (order in cmake/TelvoxLayers.cmake):${problems}")
  endif()
endfunction()

# `cmake -DTELVOX_LAYERS_SRC=<src> -P TelvoxLayers.cmake` runs the same check as a script: the
# test suite does, so an include added after the last configuration is caught too.
if(CMAKE_SCRIPT_MODE_FILE AND DEFINED TELVOX_LAYERS_SRC)
  telvox_check_layers("${TELVOX_LAYERS_SRC}")
endif()
