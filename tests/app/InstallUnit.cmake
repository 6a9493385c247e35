# Installs the build into a scratch prefix and checks the systemd user unit that comes with it:
# present under lib/systemd/user and starting the installed program as a service.
#   -DBUILD=... -DPREFIX=...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${out}${err}")
endif()
set(unit "${PREFIX}/lib/systemd/user/telvox.service")
if(NOT EXISTS "${unit}")
  message(FATAL_ERROR "no user unit at ${unit}")
endif()
file(STRINGS "${unit}" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${PREFIX}/bin/telvox --service")
  message(FATAL_ERROR "the unit starts '${exec}'")
endif()
if(NOT EXISTS "${PREFIX}/bin/telvox")
  message(FATAL_ERROR "the program was not installed")
endif()
