# Third-party libraries, all from the distribution. One interface target,
# assistant_deps, carries what the core links on this target.
add_library(assistant_deps INTERFACE)
find_package(Threads REQUIRED)
target_link_libraries(assistant_deps INTERFACE Threads::Threads)

if(WIN32)
  # pugixml is compiled from the distribution's source package (fetched by
  # scripts/install-deps); the Windows side uses only system libraries besides.
  set(PUGIXML_SOURCE_DIR "${CMAKE_SOURCE_DIR}/build/third_party/pugixml/src" CACHE PATH "pugixml sources")
  if(NOT EXISTS ${PUGIXML_SOURCE_DIR}/pugixml.cpp)
    message(FATAL_ERROR "pugixml sources missing in ${PUGIXML_SOURCE_DIR}: run scripts/install-deps")
  endif()
  add_library(pugixml_static STATIC ${PUGIXML_SOURCE_DIR}/pugixml.cpp)
  target_include_directories(pugixml_static PUBLIC ${PUGIXML_SOURCE_DIR})
  target_link_libraries(assistant_deps INTERFACE
    pugixml_static winhttp wininet ws2_32 dnsapi crypt32 advapi32 shell32 shlwapi
    ole32 oleaut32 uuid comctl32 user32 gdi32 version setupapi urlmon)
  target_compile_definitions(assistant_deps INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
  target_link_options(assistant_deps INTERFACE -static -static-libgcc -static-libstdc++)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
  pkg_check_modules(LIBCURL REQUIRED IMPORTED_TARGET libcurl)
  find_package(OpenSSL REQUIRED)
  find_package(pugixml REQUIRED)
  # The page server of the posix host (Boost.Beast and Asio, header-only)
  # and the client that fetches a "ResUrl" site for it (cpp-httplib).
  find_package(Boost 1.74 REQUIRED)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(assistant_deps INTERFACE
    PkgConfig::SQLITE3 PkgConfig::LIBCURL OpenSSL::SSL OpenSSL::Crypto pugixml::pugixml Boost::headers
    PkgConfig::HTTPLIB resolv ${CMAKE_DL_LIBS})
endif()
