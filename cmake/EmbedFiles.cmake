# Embeds the files of a folder into a C++ source as byte arrays, at build time:
#   cmake -DINPUT_DIR=dir -DOUTPUT=file.cpp -DHEADER=name.h -DNAMESPACE=ns -DFUNCTION=Files -P EmbedFiles.cmake
# The source defines `std::span<const EmbeddedFile> FUNCTION()`, the files in
# name order (EmbeddedFile and the function are declared in HEADER). Arrays of
# bytes rather than string literals: the native Windows compiler limits one
# literal to about 16 KB, and a file's bytes go in exactly as they are.
foreach(needed INPUT_DIR OUTPUT HEADER NAMESPACE FUNCTION)
  if(NOT DEFINED ${needed})
    message(FATAL_ERROR "EmbedFiles.cmake needs -D${needed}=...")
  endif()
endforeach()

file(GLOB names RELATIVE "${INPUT_DIR}" "${INPUT_DIR}/*")
list(SORT names)
set(arrays "")
set(table "")
set(index 0)
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line_of_bytes)  # CMake's expressions have no {16}
foreach(name IN LISTS names)
  if(IS_DIRECTORY "${INPUT_DIR}/${name}")
    continue()
  endif()
  file(READ "${INPUT_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes a line; a trailing zero keeps an empty file's array legal.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(${line_of_bytes})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "// ${name}\nconst unsigned char kFile${index}[] = {\n    ${bytes}0x00};\n\n")
  string(APPEND table "      {\"${name}\", {reinterpret_cast<const char*>(kFile${index}), ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
if(index EQUAL 0)
  message(FATAL_ERROR "no files to embed in ${INPUT_DIR}")
endif()

set(text "// Generated at build time by cmake/EmbedFiles.cmake from ${INPUT_DIR}: do not edit.
#include \"${HEADER}\"

namespace ${NAMESPACE} {
namespace {

${arrays}}  // namespace

std::span<const EmbeddedFile> ${FUNCTION}() {
  static const EmbeddedFile files[] = {
${table}  };
  return files;
}

}  // namespace ${NAMESPACE}
")
# Written only when it changed: an unchanged page rebuilds nothing.
set(previous "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
endif()
if(NOT previous STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
