# Writes the check pass, res/check_pass.json, into the two places that follow
# it: the page script (in place of its /*@CHECK_PASS@*/ marker and the
# stand-in after it, up to the end of that statement) and a header for the
# program's headless report. The pass is thus written once.
#   cmake -DPASS=check_pass.json -DSCRIPT=zentrovak.js -DSCRIPT_OUT=file
#         -DHEADER_OUT=file -P CheckPass.cmake
cmake_minimum_required(VERSION 3.20)

file(READ "${PASS}" pass)
foreach(list checks itemStates keyTypes)
  string(JSON count ERROR_VARIABLE error LENGTH "${pass}" ${list})
  if(error)
    message(FATAL_ERROR "${PASS}: ${error}")
  endif()
endforeach()
string(STRIP "${pass}" pass)

file(READ "${SCRIPT}" script)
set(marker "/*@CHECK_PASS@*/")
string(FIND "${script}" "${marker}" begin)
if(begin EQUAL -1)
  message(FATAL_ERROR "${SCRIPT}: the marker ${marker} is missing")
endif()
string(SUBSTRING "${script}" 0 ${begin} head)
string(SUBSTRING "${script}" ${begin} -1 rest)
string(FIND "${rest}" ";" end)
string(SUBSTRING "${rest}" ${end} -1 tail)
file(WRITE "${SCRIPT_OUT}.tmp" "${head}${pass}${tail}")
file(RENAME "${SCRIPT_OUT}.tmp" "${SCRIPT_OUT}")

set(header "// Generated from res/check_pass.json by cmake/CheckPass.cmake. Do not edit.\n#pragma once\n\n")
string(APPEND header "namespace Zentrovak::Report {\n")
string(APPEND header "inline constexpr char kCheckPassJson[] = R\"CHECKPASS(${pass})CHECKPASS\";\n")
string(APPEND header "}  // namespace Zentrovak::Report\n")
file(WRITE "${HEADER_OUT}.tmp" "${header}")
file(RENAME "${HEADER_OUT}.tmp" "${HEADER_OUT}")
