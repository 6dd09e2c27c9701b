# The certificates of the bank's authorities that the program carries
# (res/certificates.tsv). The build takes them from a folder of verified
# certificate files and carries each one whose DER length and SHA-1 match
# the table; the files themselves never enter the repository.
get_filename_component(cert_default_dir "${CMAKE_SOURCE_DIR}/../shared/certs" ABSOLUTE)
set(ASSISTANT_CERTIFICATES_DIR "${cert_default_dir}" CACHE PATH
    "folder of the verified certificate files (PEM or DER) the program carries")

set(CERT_TABLE_FILE ${CMAKE_SOURCE_DIR}/res/certificates.tsv)
set(CERT_SCRIPT ${CMAKE_SOURCE_DIR}/scripts/embed-certificates)
set(CERT_GEN_DIR ${CMAKE_BINARY_DIR}/generated/certificates)
set(CERT_TABLE_SOURCE ${CERT_GEN_DIR}/carried_certificates.cpp)
# The names of the certificates carried, one a line, for the tests.
set(CERT_CARRIED_LIST ${CERT_GEN_DIR}/carried.txt)

# A file added to or removed from the folder makes the build look again.
file(GLOB cert_files CONFIGURE_DEPENDS ${ASSISTANT_CERTIFICATES_DIR}/*)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CERT_TABLE_FILE} ${CERT_SCRIPT} ${cert_files})

find_program(CERT_NODE node REQUIRED)
execute_process(
  COMMAND ${CERT_NODE} ${CERT_SCRIPT} ${CERT_TABLE_FILE} ${ASSISTANT_CERTIFICATES_DIR} ${CERT_TABLE_SOURCE}
          ${CERT_CARRIED_LIST}
  OUTPUT_VARIABLE cert_listing
  RESULT_VARIABLE cert_result)
if(NOT cert_result EQUAL 0)
  message(FATAL_ERROR "scripts/embed-certificates failed (${cert_result})")
endif()
string(STRIP "${cert_listing}" cert_listing)
string(REPLACE "\n" "\n--   " cert_listing "${cert_listing}")
message(STATUS "Certificates from ${ASSISTANT_CERTIFICATES_DIR}:\n--   ${cert_listing}")

target_sources(assistant_core PRIVATE ${CERT_TABLE_SOURCE})
