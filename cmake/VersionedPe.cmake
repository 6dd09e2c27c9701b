# Small PE libraries with a version resource, built by the MinGW-w64 tools
# in either tree from tests/fixtures/pe (a stub entry point and a version
# block whose numbers the build gives). The tests read versions from them;
# the demo machine's components are made of them.
find_program(VERSIONED_PE_WINDRES i686-w64-mingw32-windres)
find_program(VERSIONED_PE_CC i686-w64-mingw32-gcc-posix)
set(VERSIONED_PE_SOURCE ${CMAKE_SOURCE_DIR}/tests/fixtures/pe)
if(VERSIONED_PE_WINDRES AND VERSIONED_PE_CC)
  set(VERSIONED_PE_TOOLS TRUE)
else()
  set(VERSIONED_PE_TOOLS FALSE)
endif()

# versioned_pe(<output .dll> <file version> <product version>): versions as
# four comma-separated numbers; an empty file version gives no resource.
function(versioned_pe output file_version product_version)
  get_filename_component(dir ${output} DIRECTORY)
  if(file_version STREQUAL "")
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${VERSIONED_PE_CC} -shared -nostdlib -Wl,-e,_DllEntry@12 -o ${output} ${VERSIONED_PE_SOURCE}/stub.c
      DEPENDS ${VERSIONED_PE_SOURCE}/stub.c
      VERBATIM)
    return()
  endif()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${VERSIONED_PE_WINDRES} "-DFILE_VERSION=${file_version}" "-DPRODUCT_VERSION=${product_version}"
            ${VERSIONED_PE_SOURCE}/version.rc -O coff -o ${output}.res.o
    COMMAND ${VERSIONED_PE_CC} -shared -nostdlib -Wl,-e,_DllEntry@12 -o ${output}
            ${VERSIONED_PE_SOURCE}/stub.c ${output}.res.o
    DEPENDS ${VERSIONED_PE_SOURCE}/version.rc ${VERSIONED_PE_SOURCE}/stub.c
    VERBATIM)
endfunction()
