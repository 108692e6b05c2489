# SPDX-License-Identifier: MIT
# Writes OUT, a C++ source holding every brushes/*.json of DIR as text, for
# document/brush_presets.h. Run at build time, so a changed preset is built in again.
file(GLOB presets "${DIR}/*.json")
list(SORT presets)
set(body "")
foreach(path ${presets})
  get_filename_component(name ${path} NAME_WE)
  file(READ ${path} text)
  string(REGEX MATCH "\"description\"[ \t\r\n]*:[ \t\r\n]*\"([^\"]*)\"" found "${text}")
  set(description "${CMAKE_MATCH_1}")
  string(APPEND body "      {\"${name}\", \"${description}\", R\"kstroke_preset(${text})kstroke_preset\"},\n")
endforeach()
file(WRITE ${OUT}.tmp "// Generated from brushes/ by cmake/embed_brushes.cmake: do not edit.\n"
  "#include \"document/brush_presets.h\"\n\n"
  "const std::vector<BrushPresetText>& BrushPresetTexts() {\n"
  "  static const std::vector<BrushPresetText> presets = {\n${body}  };\n"
  "  return presets;\n}\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.tmp ${OUT})
