# Turns a file into a C++ source that holds its bytes:
#   cmake -DIN=<file> -DOUT=<source> -DSYMBOL=<name> -P embed.cmake
# defines rk::<name>Data (unsigned char[]) and rk::<name>Size (std::size_t).
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${IN}; do not edit.\n#include <cstddef>\n\nnamespace rk {\n"
  "extern const unsigned char ${SYMBOL}Data[];\nextern const std::size_t ${SYMBOL}Size;\n"
  "const unsigned char ${SYMBOL}Data[] = {\n    ${bytes}0x00};\n"
  "const std::size_t ${SYMBOL}Size = ${size};\n}  // namespace rk\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
