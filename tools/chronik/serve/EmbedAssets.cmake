# Writes the event page's files (PAGE_DIR: index.html, app.js, app.css) into
# OUTPUT as C++ raw-string constants kPage_index_html, kPage_app_js and
# kPage_app_css. Run as cmake -DPAGE_DIR=... -DOUTPUT=... -P EmbedAssets.cmake.
set(delimiter "page")
set(text "// Generated from tools/chronik/serve/page by EmbedAssets.cmake: the event page's files.\n#pragma once\n")
foreach(name index.html app.js app.css)
  file(READ ${PAGE_DIR}/${name} content)
  string(FIND "${content}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${name} holds the raw-string end )${delimiter}\"")
  endif()
  string(MAKE_C_IDENTIFIER ${name} id)
  string(APPEND text "\ninline constexpr char kPage_${id}[] = R\"${delimiter}(${content})${delimiter}\";\n")
endforeach()
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
