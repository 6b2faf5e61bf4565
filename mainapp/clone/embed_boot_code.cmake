# Writes the bytes of a binary file as a C++ array definition:
#   cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DNAME=kName -P embed_boot_code.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR byte_count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
  "// Generated from ${INPUT} at build time; do not edit.\n"
  "#include <cstddef>\n#include <cstdint>\n\n"
  "extern const uint8_t ${NAME}[${byte_count}] = {\n  ${bytes}\n};\n"
  "extern const size_t ${NAME}Size = ${byte_count};\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
