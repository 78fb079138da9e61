# cmake -DIN=file -DOUT=header -P embed.cmake: the file's bytes as a C array.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp
  "// Generated from sample-storage.json; do not edit.\n"
  "static const unsigned char g_SimSampleBytes[] = {\n${bytes}0x00\n};\n"
  "static const unsigned long g_SimSampleSize = ${size};\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
