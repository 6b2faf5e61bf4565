# cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DNAME=Symbol -DHEADER=dir/header.h -P embed_binary.cmake
# Writes a C++ source that defines `extern const uint8_t Symbol[]` with the
# file's bytes; the header that declares the symbol (with its size) is
# included, so a size that drifts from the declaration fails to compile.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  "
       bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
     "// Generated from ${INPUT} at build time.\n#include \"${HEADER}\"\n\nextern const uint8_t ${NAME}[] = {\n  ${bytes}\n};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
