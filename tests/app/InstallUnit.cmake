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
# The installed program finds its SIP module: a SIP line starts (no "SIP lines cannot start",
# no fallback to the virtual exchange).
file(WRITE "${PREFIX}/home/telvox.ini" "[SIP]\nLine0Listen=127.0.0.1:0\n")
file(MAKE_DIRECTORY "${PREFIX}/run")
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen TELVOX_HOME=${PREFIX}/home
    XDG_RUNTIME_DIR=${PREFIX}/run --unset=TELVOX_SIP_MODULE "${PREFIX}/bin/telvox" --echo-status --quit-after 300
  OUTPUT_VARIABLE said ERROR_VARIABLE err TIMEOUT 60)
if(NOT said MATCHES "Line0 is ready" OR said MATCHES "SIP lines cannot start|virtual exchange")
  message(FATAL_ERROR "the installed program's SIP line did not start:\n${said}${err}")
endif()
