# The line backends of src/platform/telephony/, one folder each, in the order the program asks
# them for lines (a backend whose command-line option is given is asked first; the virtual
# exchange of sim/exchange, which always builds, is asked last). This list is the only place
# outside a backend's folder that names it: the folders are added from it, the layer table
# gives them their layer from it, and the program links and registers them from it.
set(TELVOX_LINE_BACKENDS
  sip
  modem
)

# Called once in a backend's CMakeLists.txt: what the program needs of the backend.
#   LIBRARY   the library the program links (registration, probe, settings page)
#   HEADER    the header, relative to src/, that declares the registration function
#   REGISTER  the registration function, called with the LineBackendRegistry
#   MODULE    optional: a module the program loads at run time, built along with it
function(telvox_line_backend)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "LIBRARY;HEADER;REGISTER;MODULE" "")
  if(NOT arg_LIBRARY OR NOT arg_HEADER OR NOT arg_REGISTER)
    message(FATAL_ERROR "telvox_line_backend needs LIBRARY, HEADER and REGISTER")
  endif()
  set_property(GLOBAL APPEND PROPERTY TELVOX_LINE_BACKEND_LIBRARIES ${arg_LIBRARY})
  set_property(GLOBAL APPEND PROPERTY TELVOX_LINE_BACKEND_HEADERS ${arg_HEADER})
  set_property(GLOBAL APPEND PROPERTY TELVOX_LINE_BACKEND_REGISTERS ${arg_REGISTER})
  if(arg_MODULE)
    set_property(GLOBAL APPEND PROPERTY TELVOX_LINE_BACKEND_MODULES ${arg_MODULE})
  endif()
endfunction()

# Writes `file`: registerListedLineBackends(), which registers the listed backends in order.
function(telvox_write_line_backend_list file)
  get_property(headers GLOBAL PROPERTY TELVOX_LINE_BACKEND_HEADERS)
  get_property(registers GLOBAL PROPERTY TELVOX_LINE_BACKEND_REGISTERS)
  set(text "// Written by cmake/TelvoxBackends.cmake from TELVOX_LINE_BACKENDS.\n#include \"app/LineBackendList.h\"\n")
  foreach(header IN LISTS headers)
    string(APPEND text "#include \"${header}\"\n")
  endforeach()
  string(APPEND text "\nnamespace telvox {\n\nvoid registerListedLineBackends(LineBackendRegistry &registry)\n{\n")
  foreach(call IN LISTS registers)
    string(APPEND text "    ${call}(registry);\n")
  endforeach()
  string(APPEND text "    (void)registry;\n}\n\n} // namespace telvox\n")
  file(CONFIGURE OUTPUT "${file}" CONTENT "${text}" @ONLY)
endfunction()
