# Writes the five page variants from the one page template.
#   cmake -DTEMPLATE=page.html -DOUTPUT_DIR=dir -P MakePages.cmake
# The variants differ only in these pieces of the template:
#   @TAB0@..@TAB4@      background position of the tab buttons: "0 100%" for the
#                       tab drawn selected, "0 0" for the others
#   @PANEL0@..@PANEL4@  "block" for the panel shown first, "none" for the others
#   <!--@IE6PNG-->      the ie6png.js script element (not in 129)
#   @INFO@              initial text of the status line ("." in 131)
#   <!--@FT2-->..<!--@/FT2-->  the FT2 choice of the key-type chooser (not in 132)
cmake_minimum_required(VERSION 3.20)

file(READ "${TEMPLATE}" template)
set(ie6png_script "<script type=\"text/javascript\" src=\"js/ie6png.js\"></script>")

foreach(id 129 130 131 132 133)
  math(EXPR shown "${id} - 129")
  set(page "${template}")
  foreach(tab 0 1 2 3 4)
    if(tab EQUAL shown)
      string(REPLACE "@TAB${tab}@" "0 100%" page "${page}")
      string(REPLACE "@PANEL${tab}@" "block" page "${page}")
    else()
      string(REPLACE "@TAB${tab}@" "0 0" page "${page}")
      string(REPLACE "@PANEL${tab}@" "none" page "${page}")
    endif()
  endforeach()

  if(id EQUAL 129)
    string(REPLACE "<!--@IE6PNG-->\n" "" page "${page}")
  else()
    string(REPLACE "<!--@IE6PNG-->" "${ie6png_script}" page "${page}")
  endif()

  if(id EQUAL 131)
    string(REPLACE "@INFO@" "." page "${page}")
  else()
    string(REPLACE "@INFO@" "" page "${page}")
  endif()

  string(FIND "${page}" "<!--@FT2-->" ft2_begin)
  string(FIND "${page}" "<!--@/FT2-->" ft2_end)
  if(ft2_begin EQUAL -1 OR ft2_end LESS ft2_begin)
    message(FATAL_ERROR "${TEMPLATE}: the FT2 choice is not marked")
  endif()
  if(id EQUAL 132)
    string(LENGTH "<!--@/FT2-->" marker_length)
    math(EXPR after "${ft2_end} + ${marker_length}")
    string(SUBSTRING "${page}" 0 ${ft2_begin} head)
    string(SUBSTRING "${page}" ${after} -1 tail)
    set(page "${head}${tail}")
  else()
    string(REPLACE "<!--@FT2-->" "" page "${page}")
    string(REPLACE "<!--@/FT2-->" "" page "${page}")
  endif()

  string(REGEX MATCH "@[A-Z0-9/]+@|<!--@" leftover "${page}")
  if(leftover)
    message(FATAL_ERROR "${TEMPLATE}: unknown variant marker ${leftover}")
  endif()
  file(WRITE "${OUTPUT_DIR}/${id}.htm.tmp" "${page}")
  file(RENAME "${OUTPUT_DIR}/${id}.htm.tmp" "${OUTPUT_DIR}/${id}.htm")
endforeach()
