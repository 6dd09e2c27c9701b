# The page set and the other resources carried inside the program: the five
# page variants, the style sheet, the scripts (ours and the two libraries from
# npm), the pictures, the string table, the icon and, on win32, the
# application manifest.
#
# win32: a resource script for windres, compiled once into the object library
#        assistant_resources that the program and every test program link.
# posix: the same bytes in a generated C++ table compiled into assistant_core.
#
# Page files are named as the page refers to them: folder = resource type,
# file = resource name, both upper case ("js/main.js" is JS "MAIN.JS").
# Everything generated lands under ${CMAKE_BINARY_DIR}/generated/res.

include(${CMAKE_CURRENT_LIST_DIR}/ResourceStrings.cmake)

set(RES_SOURCE_DIR ${CMAKE_SOURCE_DIR}/res)
set(RES_GEN_DIR ${CMAKE_BINARY_DIR}/generated/res)
file(MAKE_DIRECTORY ${RES_GEN_DIR}/html ${RES_GEN_DIR}/images)

# The script libraries come from npm (package.json); scripts/install-deps
# installs them. jquery 1.8.3 on npm keeps the plain browser build in tmp/.
set(RES_JQUERY_FILE ${CMAKE_SOURCE_DIR}/node_modules/jquery/tmp/jquery.js)
set(RES_JQUERY_JSON_FILE ${CMAKE_SOURCE_DIR}/node_modules/jquery-json/src/jquery.json.js)
foreach(library ${RES_JQUERY_FILE} ${RES_JQUERY_JSON_FILE} ${CMAKE_SOURCE_DIR}/node_modules/acorn/package.json)
  if(NOT EXISTS ${library})
    message(FATAL_ERROR "${library} is missing: run scripts/install-deps (npm ci)")
  endif()
endforeach()

# Pictures, drawn at build time by scripts/make-images.
set(RES_PICTURES A12.JPG A140821-12.GIF A140821-43.GIF A140821-43.JPG NETERROR.GIF)
foreach(n RANGE 1 42)
  if(NOT n EQUAL 12)
    string(LENGTH "${n}" digits)
    if(digits EQUAL 1)
      set(n "0${n}")
    endif()
    list(APPEND RES_PICTURES A140821-${n}.JPG)
  endif()
endforeach()
foreach(n RANGE 44 49)
  list(APPEND RES_PICTURES A140821-${n}.GIF)
endforeach()
foreach(n RANGE 11 15)
  list(APPEND RES_PICTURES A20140818-${n}.JPG)
endforeach()
list(SORT RES_PICTURES)
set(RES_ICON_FILE ${RES_GEN_DIR}/images/APP.ICO)
set(picture_files)
foreach(picture IN LISTS RES_PICTURES)
  list(APPEND picture_files ${RES_GEN_DIR}/images/${picture})
endforeach()
add_custom_command(
  OUTPUT ${picture_files} ${RES_ICON_FILE}
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-images ${RES_GEN_DIR}/images
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-images
  COMMENT "Drawing the pictures of the pages"
  VERBATIM)

# Page variants 129 to 133 from the one template.
set(RES_PAGE_TEMPLATE ${RES_SOURCE_DIR}/html/page.html)
set(page_files)
foreach(id 129 130 131 132 133)
  list(APPEND page_files ${RES_GEN_DIR}/html/${id}.htm)
endforeach()
add_custom_command(
  OUTPUT ${page_files}
  COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${RES_PAGE_TEMPLATE} -DOUTPUT_DIR=${RES_GEN_DIR}/html
          -P ${CMAKE_CURRENT_LIST_DIR}/MakePages.cmake
  DEPENDS ${RES_PAGE_TEMPLATE} ${CMAKE_CURRENT_LIST_DIR}/MakePages.cmake
  COMMENT "Writing the page variants"
  VERBATIM)

# The check pass is described once (res/check_pass.json): the build writes it
# into the page script and into a header for the headless report.
set(RES_PAGE_SCRIPT ${RES_GEN_DIR}/js/zentrovak.js)
set(RES_CHECK_PASS_HEADER ${CMAKE_BINARY_DIR}/generated/check_pass_data.h)
add_custom_command(
  OUTPUT ${RES_PAGE_SCRIPT} ${RES_CHECK_PASS_HEADER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${RES_GEN_DIR}/js
  COMMAND ${CMAKE_COMMAND} -DPASS=${RES_SOURCE_DIR}/check_pass.json -DSCRIPT=${RES_SOURCE_DIR}/js/zentrovak.js
          -DSCRIPT_OUT=${RES_PAGE_SCRIPT} -DHEADER_OUT=${RES_CHECK_PASS_HEADER}
          -P ${CMAKE_CURRENT_LIST_DIR}/CheckPass.cmake
  DEPENDS ${RES_SOURCE_DIR}/check_pass.json ${RES_SOURCE_DIR}/js/zentrovak.js ${CMAKE_CURRENT_LIST_DIR}/CheckPass.cmake
  COMMENT "Writing the check pass into the page script"
  VERBATIM)
target_sources(assistant_core PRIVATE ${RES_CHECK_PASS_HEADER})

# Our page scripts run in Internet Explorer's engine: the build stops when
# one of them is not plain ES3.
find_program(RES_NODE node REQUIRED)
set(page_scripts ${RES_SOURCE_DIR}/js/main.js ${RES_PAGE_SCRIPT} ${RES_SOURCE_DIR}/js/ie6png.js)
set(RES_SCRIPTS_CHECKED ${RES_GEN_DIR}/page-scripts.checked)
add_custom_command(
  OUTPUT ${RES_SCRIPTS_CHECKED}
  COMMAND ${RES_NODE} ${CMAKE_SOURCE_DIR}/scripts/check-page-scripts --stamp ${RES_SCRIPTS_CHECKED} ${page_scripts}
  DEPENDS ${page_scripts} ${CMAKE_SOURCE_DIR}/scripts/check-page-scripts
  COMMENT "Checking that the page scripts are ES3"
  VERBATIM)

# Every carried file as TYPE|NAME|FILE; numbered types and names are written
# "#n" (23 is RT_HTML). A new resource is one more entry here.
set(RES_ENTRIES)
foreach(id 129 130 131 132 133)
  list(APPEND RES_ENTRIES "#23|#${id}|${RES_GEN_DIR}/html/${id}.htm")
endforeach()
list(APPEND RES_ENTRIES
  "CSS|CSS.CSS|${RES_SOURCE_DIR}/css/css.css"
  "JS|MAIN.JS|${RES_SOURCE_DIR}/js/main.js"
  "JS|ZENTROVAK.JS|${RES_PAGE_SCRIPT}"
  "JS|IE6PNG.JS|${RES_SOURCE_DIR}/js/ie6png.js"
  "JS|JQUERY-1.8.3.MIN.JS|${RES_JQUERY_FILE}"
  "JS|JQUERY.JSON.JS|${RES_JQUERY_JSON_FILE}")
foreach(picture IN LISTS RES_PICTURES)
  list(APPEND RES_ENTRIES "IMAGES|${picture}|${RES_GEN_DIR}/images/${picture}")
endforeach()
if(ASSIST_STAND_IN_FILE)
  list(APPEND RES_ENTRIES "PE|#133|${ASSIST_STAND_IN_FILE}")
endif()
set(RES_STRINGS_FILE ${RES_SOURCE_DIR}/strings.tsv)

set(res_files ${RES_STRINGS_FILE} ${RES_SCRIPTS_CHECKED})
foreach(entry IN LISTS RES_ENTRIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 2 file)
  list(APPEND res_files ${file})
endforeach()

# Writes content to file only when it differs, so an unchanged result does
# not make everything behind it build again.
function(res_write_if_changed file content)
  file(WRITE ${file}.new "${content}")
  configure_file(${file}.new ${file} COPYONLY)
  file(REMOVE ${file}.new)
endfunction()

if(WIN32)
  enable_language(RC)
  # The string table is read while configuring; a change re-runs CMake.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RES_STRINGS_FILE})
  read_string_table(${RES_STRINGS_FILE} string_ids)

  set(rc "// Generated by cmake/Resources.cmake. Do not edit.\n#pragma code_page(65001)\n")
  string(APPEND rc "LANGUAGE 0, 0\n\n")
  string(APPEND rc "1 24 \"${RES_SOURCE_DIR}/assistant.manifest\"\n")
  string(APPEND rc "128 ICON \"${RES_ICON_FILE}\"\n\n")
  foreach(entry IN LISTS RES_ENTRIES)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 type)
    list(GET parts 1 name)
    list(GET parts 2 file)
    string(REPLACE "#" "" type "${type}")
    string(REPLACE "#" "" name "${name}")
    string(APPEND rc "${name} ${type} \"${file}\"\n")
  endforeach()
  string(APPEND rc "\nSTRINGTABLE\nBEGIN\n")
  foreach(id IN LISTS string_ids)
    string(REPLACE "\"" "\"\"" text "${RES_STRING_${id}}")
    string(APPEND rc "  ${id} \"${text}\"\n")
  endforeach()
  string(APPEND rc "END\n")
  set(rc_file ${RES_GEN_DIR}/assistant.rc)
  res_write_if_changed(${rc_file} "${rc}")
  set_source_files_properties(${rc_file} PROPERTIES
    OBJECT_DEPENDS "${res_files};${RES_ICON_FILE};${RES_SOURCE_DIR}/assistant.manifest")

  add_library(assistant_resources OBJECT ${rc_file})
  if(TARGET assist_stand_in)
    add_dependencies(assistant_resources assist_stand_in)
  endif()
  set(ASSISTANT_PROGRAM_RESOURCES $<TARGET_OBJECTS:assistant_resources>)
else()
  set(manifest "set(RES_ENTRIES \"${RES_ENTRIES}\")\nset(RES_STRINGS_FILE \"${RES_STRINGS_FILE}\")\n")
  set(manifest_file ${RES_GEN_DIR}/resources.cmake)
  res_write_if_changed(${manifest_file} "${manifest}")
  set(table_file ${RES_GEN_DIR}/embedded_resources.cpp)
  add_custom_command(
    OUTPUT ${table_file}
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${manifest_file} -DOUTPUT=${table_file}
            -P ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake
    DEPENDS ${res_files} ${manifest_file} ${CMAKE_CURRENT_LIST_DIR}/EmbedResources.cmake
            ${CMAKE_CURRENT_LIST_DIR}/ResourceStrings.cmake
    COMMENT "Writing the table of embedded resources"
    VERBATIM)
  target_sources(assistant_core PRIVATE ${table_file})
  set(ASSISTANT_PROGRAM_RESOURCES)
endif()

# The finished page set as a folder, for looking at the pages in a browser and
# for the page tests: html/129.htm.. beside css/, js/ and images/ with the
# names in the case the page uses.
set(RES_SITE_DIR ${RES_GEN_DIR}/site)
set(site_commands)
set(site_outputs)
foreach(entry IN LISTS RES_ENTRIES)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 type)
  list(GET parts 1 name)
  list(GET parts 2 file)
  if(type STREQUAL "#23")
    string(REPLACE "#" "" name "${name}")
    set(target_path ${RES_SITE_DIR}/${name}.htm)
  else()
    string(TOLOWER "${type}/${name}" relative)
    set(target_path ${RES_SITE_DIR}/${relative})
  endif()
  list(APPEND site_outputs ${target_path})
  list(APPEND site_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${target_path})
endforeach()
add_custom_command(
  OUTPUT ${RES_SITE_DIR}/.stamp
  ${site_commands}
  COMMAND ${CMAKE_COMMAND} -E touch ${RES_SITE_DIR}/.stamp
  DEPENDS ${res_files}
  COMMENT "Laying out the page set in ${RES_SITE_DIR}"
  VERBATIM)
add_custom_target(page_site ALL DEPENDS ${RES_SITE_DIR}/.stamp)
