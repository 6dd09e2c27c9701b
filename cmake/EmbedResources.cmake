# Writes the C++ table that carries the resources in the posix program.
#   cmake -DMANIFEST=resources.cmake -DOUTPUT=embedded_resources.cpp -P EmbedResources.cmake
# MANIFEST sets RES_ENTRIES (items "TYPE|NAME|FILE") and RES_STRINGS_FILE.
cmake_minimum_required(VERSION 3.20)
include("${MANIFEST}")
include("${CMAKE_CURRENT_LIST_DIR}/ResourceStrings.cmake")

# 24 bytes a line keeps the generated file easy on the compiler.
set(line_pattern "")
foreach(i RANGE 23)
  string(APPEND line_pattern "0x[0-9a-f][0-9a-f],")
endforeach()

set(body "// Generated from the files of res/ by cmake/EmbedResources.cmake. Do not edit.\n")
string(APPEND body "#include \"ui/posix/embedded_resources.h\"\n\n")
string(APPEND body "namespace Zentrovak::UI::Embedded {\nnamespace {\n\n")

set(table "")
set(index 0)
foreach(entry IN LISTS RES_ENTRIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 type)
  list(GET parts 1 name)
  list(GET parts 2 file)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(${line_pattern})" "\\1\n" bytes "${bytes}")
  string(APPEND body "// ${type} ${name}\nconst unsigned char kData${index}[] = {\n${bytes}0};\n\n")
  string(APPEND table "    {\"${type}\", \"${name}\", kData${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

read_string_table("${RES_STRINGS_FILE}" string_ids)
set(texts "")
foreach(id IN LISTS string_ids)
  string(REPLACE "\"" "\\\"" text "${RES_STRING_${id}}")
  string(APPEND texts "    {${id}, \"${text}\"},\n")
endforeach()

string(APPEND body "}  // namespace\n\n")
string(APPEND body "const File kFiles[] = {\n${table}};\n")
string(APPEND body "const size_t kFileCount = sizeof(kFiles) / sizeof(kFiles[0]);\n\n")
string(APPEND body "const Text kTexts[] = {\n${texts}};\n")
string(APPEND body "const size_t kTextCount = sizeof(kTexts) / sizeof(kTexts[0]);\n\n")
string(APPEND body "}  // namespace Zentrovak::UI::Embedded\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
