# Turns the file IN into a C++ source OUT that registers its bytes as resource NAME.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" n)
math(EXPR size "${n} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.
#include <ormix/runtime/incbin.h>
namespace {
const unsigned char kData[${size} + 1] = {
${bytes}
0};
}
void OrmixEmbed_${SYMBOL}() { RegisterIncbin(\"${NAME}\", kData, ${size}); }
")
