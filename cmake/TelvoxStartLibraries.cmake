# Run as a test: fails when the program, by itself, loads a library that only a module should
# bring (sound, the web server, printing): each costs every start its loading and relocation.
# -DPROGRAM=<telvox> -DFORBIDDEN=<regex of library names>
execute_process(COMMAND ldd ${PROGRAM} OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd ${PROGRAM} failed")
endif()
string(REGEX MATCHALL "[^ \t\n]*(${FORBIDDEN})[^ \t\n]*" found "${libraries}")
if(found)
  list(REMOVE_DUPLICATES found)
  message(FATAL_ERROR "the program loads at start what a module should: ${found}")
endif()
# A library search path of its own would send each start through failed opens in its folders
# (or, with empty entries, in the current folder) before the system's.
execute_process(COMMAND readelf -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "readelf -d ${PROGRAM} failed")
endif()
string(REGEX MATCH "\\((RPATH|RUNPATH)\\)[^\n]*" search_path "${dynamic}")
if(search_path)
  message(FATAL_ERROR "the program has a library search path of its own: ${search_path}")
endif()
message(STATUS "the program loads none of: ${FORBIDDEN}, and has no library search path of its own")
