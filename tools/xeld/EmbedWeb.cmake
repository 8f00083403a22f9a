# Turns the web panel's files into a C++ source of byte arrays, so the build
# tree and the installed program serve the same page and nothing is read at
# run time:
#   cmake -DBASE=dir -DFILES="index.html;panel.js" -DOUT=WebFiles.cpp -P EmbedWeb.cmake
set(arrays "")
set(table "")
set(i 0)
foreach(name IN LISTS FILES)
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(name MATCHES "\\.svg$")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "no content type known for ${name}")
  endif()
  file(READ "${BASE}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  # The extra 0 keeps an empty file a valid array; the size leaves it out.
  string(APPEND arrays "const char kFile${i}[] = {${bytes}0};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\", {kFile${i}, ${size}}},\n")
  math(EXPR i "${i} + 1")
endforeach()

set(source "// Generated from tools/xeld/web by EmbedWeb.cmake; do not edit.
#include \"tools/xeld/WebPanel.h\"

namespace xeld {

namespace {

${arrays}
const WebFile kFiles[] = {
${table}};

}  // namespace

std::span<const WebFile> webFiles() { return kFiles; }

}  // namespace xeld
")
# Written only when it changed, so an unchanged page rebuilds nothing.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL source)
  file(WRITE "${OUT}" "${source}")
endif()
