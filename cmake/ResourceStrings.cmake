# Reading the string table file (res/strings.tsv): one entry a line, the id,
# a tab and the text; "#" starts a comment line. In the text "\n" stands for a
# line break and "\\" for a backslash; both are written as the same escapes
# into the resource script and the C++ table, which read them alike.

# Sets <out_ids> to the ids in file order and, for each id, the variable
# RES_STRING_<id> in the caller's scope to its escaped text.
function(read_string_table file out_ids)
  file(STRINGS "${file}" lines ENCODING UTF-8)
  set(ids)
  foreach(line IN LISTS lines)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)\t(.*)$")
      message(FATAL_ERROR "${file}: not an entry: ${line}")
    endif()
    set(id ${CMAKE_MATCH_1})
    set(text "${CMAKE_MATCH_2}")
    if(id LESS 101 OR id GREATER 181)
      message(FATAL_ERROR "${file}: id ${id} is outside 101 to 181")
    endif()
    if(id IN_LIST ids)
      message(FATAL_ERROR "${file}: id ${id} appears twice")
    endif()
    string(REPLACE "\\\\" "" plain "${text}")
    string(REPLACE "\\n" "" plain "${plain}")
    if(plain MATCHES "\\\\")
      message(FATAL_ERROR "${file}: id ${id}: only \\n and \\\\ may follow a backslash")
    endif()
    list(APPEND ids ${id})
    set(RES_STRING_${id} "${text}" PARENT_SCOPE)
  endforeach()
  set(${out_ids} ${ids} PARENT_SCOPE)
endfunction()
