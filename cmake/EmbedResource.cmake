# Writes the bytes of a compiled resource file (.res) into a C++ source as
# W95ResourceBytes and W95ResourceSize, from which the emulation reads the
# program's dialog templates.
file(READ ${INPUT} bytes HEX)
file(SIZE ${INPUT} size)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT}
  "// Generated from ${INPUT}.\n"
  "#include <cstddef>\n"
  "extern \"C\" const unsigned char W95ResourceBytes[] = {\n${bytes}};\n"
  "extern \"C\" const std::size_t W95ResourceSize = ${size};\n")
