# Writes the compiled message catalog MO as a C++ byte array (vireo_catalog_en) to OUT, so that
# the programs carry their English texts wherever they run from.
file(READ ${MO} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.tmp
  "// Generated from po/en.po by the build; do not edit.\n"
  "#include <cstddef>\n"
  "extern const unsigned char vireo_catalog_en[] = {\n${bytes}};\n"
  "extern const std::size_t vireo_catalog_en_size = sizeof(vireo_catalog_en);\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.tmp)
