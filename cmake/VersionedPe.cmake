# Small PE libraries with a version resource, built by the MinGW-w64 tools
# from tests/fixtures/pe (a stub entry point and a version block whose
# numbers the build gives). The tests read versions from them; the demo
# machine's components are made of them. A Windows test program loads them,
# so a Windows tree builds them for its own machine (a 64-bit process cannot
# load a PE32 library); the Linux tree makes the product's kind, PE32.
if(WIN32)
  set(VERSIONED_PE_WINDRES ${CMAKE_RC_COMPILER})
  set(VERSIONED_PE_CC ${CMAKE_C_COMPILER})
else()
  find_program(VERSIONED_PE_WINDRES i686-w64-mingw32-windres)
  find_program(VERSIONED_PE_CC i686-w64-mingw32-gcc-posix)
endif()
set(VERSIONED_PE_SOURCE ${CMAKE_SOURCE_DIR}/tests/fixtures/pe)
if(VERSIONED_PE_WINDRES AND VERSIONED_PE_CC)
  set(VERSIONED_PE_TOOLS TRUE)
else()
  set(VERSIONED_PE_TOOLS FALSE)
endif()
# The entry point's symbol carries the stdcall decoration on i686 only.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VERSIONED_PE_ENTRY DllEntry)
else()
  set(VERSIONED_PE_ENTRY _DllEntry@12)
endif()

# versioned_pe(<output .dll> <file version> <product version>): versions as
# four comma-separated numbers; an empty file version gives no resource.
function(versioned_pe output file_version product_version)
  get_filename_component(dir ${output} DIRECTORY)
  if(file_version STREQUAL "")
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${VERSIONED_PE_CC} -shared -nostdlib -Wl,-e,${VERSIONED_PE_ENTRY} -o ${output}
              ${VERSIONED_PE_SOURCE}/stub.c
      DEPENDS ${VERSIONED_PE_SOURCE}/stub.c
      VERBATIM)
    return()
  endif()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${VERSIONED_PE_WINDRES} "-DFILE_VERSION=${file_version}" "-DPRODUCT_VERSION=${product_version}"
            ${VERSIONED_PE_SOURCE}/version.rc -O coff -o ${output}.res.o
    COMMAND ${VERSIONED_PE_CC} -shared -nostdlib -Wl,-e,${VERSIONED_PE_ENTRY} -o ${output}
            ${VERSIONED_PE_SOURCE}/stub.c ${output}.res.o
    DEPENDS ${VERSIONED_PE_SOURCE}/version.rc ${VERSIONED_PE_SOURCE}/stub.c
    VERBATIM)
endfunction()
