# Writes the text of a resource script into a C++ source as the array
# W95ResourceScript, which the emulation parses for dialog templates.
file(READ ${INPUT} text HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${text}")
file(WRITE ${OUTPUT}
  "// Generated from ${INPUT}.\n"
  "extern \"C\" const char W95ResourceScript[] = {${bytes}0};\n")
