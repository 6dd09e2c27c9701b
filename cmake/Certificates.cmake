# The certificates of the bank's authorities that the program carries
# (res/certificates.tsv). The build takes them from a folder of verified
# certificate files, by default the public copies kept in the repository
# (res/certificates, with their sources), and carries each one whose DER
# length and SHA-1 match the table.
set(ASSISTANT_CERTIFICATES_DIR "${CMAKE_SOURCE_DIR}/res/certificates" CACHE PATH
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
# A certificate the build does not carry can never be imported, so its
# repair always fails on a customer's PC: say so where a build log reader
# cannot miss it.
file(STRINGS ${CERT_CARRIED_LIST} cert_carried)
file(STRINGS ${CERT_TABLE_FILE} cert_rows REGEX "^[^#].*\t")
list(LENGTH cert_carried cert_carried_count)
list(LENGTH cert_rows cert_row_count)
if(cert_carried_count LESS cert_row_count)
  message(WARNING "This build carries ${cert_carried_count} of the ${cert_row_count} certificates of "
                  "res/certificates.tsv; the repair of each missing one will fail. Point "
                  "ASSISTANT_CERTIFICATES_DIR at a folder holding them (PEM or DER).")
endif()

target_sources(assistant_core PRIVATE ${CERT_TABLE_SOURCE})
