# Runs telvox-scenario on a scenario file in a fresh program folder.
#   -DTOOL=... -DSCENARIO=... -DHOME=... [-DEXPECT_FAILURE=<text the error must contain>]
file(REMOVE_RECURSE "${HOME}")
file(MAKE_DIRECTORY "${HOME}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TELVOX_HOME=${HOME} ${TOOL} ${SCENARIO}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(DEFINED EXPECT_FAILURE)
  if(result EQUAL 0)
    message(FATAL_ERROR "a malformed scenario was accepted")
  endif()
  string(FIND "${err}" "${EXPECT_FAILURE}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the error does not say: ${EXPECT_FAILURE}")
  endif()
elseif(NOT result EQUAL 0)
  message(FATAL_ERROR "telvox-scenario exited with ${result}")
endif()
