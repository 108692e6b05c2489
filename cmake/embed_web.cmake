# SPDX-License-Identifier: MIT
# Writes OUT, a C++ source holding every file under DIR as bytes, for
# app/studio/web_assets.h. Run at build time, so a changed page is built in again.
file(GLOB_RECURSE files RELATIVE ${DIR} "${DIR}/*")
list(SORT files)
set(arrays "")
set(entries "")
set(index 0)
foreach(rel ${files})
  file(READ ${DIR}/${rel} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kAsset${index}[] = {${bytes}0};\n")
  string(APPEND entries "      {\"/${rel}\", kAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from app/studio/web/ by cmake/embed_web.cmake: do not edit.\n"
  "#include \"app/studio/web_assets.h\"\n\nnamespace {\n${arrays}}  // namespace\n\n"
  "const std::vector<WebAsset>& WebAssets() {\n"
  "  static const std::vector<WebAsset> assets = {\n${entries}  };\n"
  "  return assets;\n}\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.tmp ${OUT})
