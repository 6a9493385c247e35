# Writes a C++ source file that holds the bytes of a file as a character array.
# cmake -DINPUT=<file> -DOUTPUT=<cpp> -DNAMESPACE=<ns> -DSYMBOL=<name> -P EmbedFile.cmake
# defines  const char <ns>::<name>[]  (the bytes plus a terminating 0) and
#          const std::size_t <ns>::<name>Size  (the number of bytes).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by EmbedFile.cmake; do not edit.\n"
"#include <cstddef>\n\n"
"namespace ${NAMESPACE} {\n"
"extern const char ${SYMBOL}[];\n"
"extern const std::size_t ${SYMBOL}Size;\n"
"const char ${SYMBOL}[] = {\n    ${bytes}'\\0'};\n"
"const std::size_t ${SYMBOL}Size = ${size};\n"
"} // namespace ${NAMESPACE}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
