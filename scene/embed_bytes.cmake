# Copies a file's bytes into a C++ source as an array, so the program carries the file unchanged and reads
# it at start-up. Runs on the build machine, so it serves cross builds as well.
#
#   cmake -DINPUT=greeting.txt -DOUTPUT=greeting_utf8.cpp -DNAME=GreetingUtf8 -P embed_bytes.cmake
# defines `const unsigned char NAME[]` and `const size_t NAMESize`.

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# 0x.., sixteen to a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " body "${body}")
file(WRITE "${OUTPUT}" "// Made at build time from ${INPUT}; edit that file instead.\n#include <cstddef>\n\n"
     "extern const unsigned char ${NAME}[];\nextern const size_t ${NAME}Size;\n"
     "const unsigned char ${NAME}[] = {\n    ${body}0x00};\nconst size_t ${NAME}Size = ${size};\n")
