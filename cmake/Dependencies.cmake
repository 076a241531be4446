# Outside code the build uses, all of it installed from Debian packages:
# GoogleTest from its source package folder, zlib, and minizip (the system
# library natively; built here from Debian's zlib source for Windows).

set(VELTRONA_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${VELTRONA_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/_deps/googletest" EXCLUDE_FROM_ALL SYSTEM)

if(WIN32)
  # zlib1.dll is not part of Windows: the programs carry zlib inside. The
  # static archive is named outright, so a cache that once found the import
  # library is corrected too.
  find_library(VELTRONA_ZLIB_STATIC NAMES libz.a REQUIRED)
  set(ZLIB_LIBRARY_RELEASE "${VELTRONA_ZLIB_STATIC}" CACHE FILEPATH "zlib, linked statically" FORCE)
  set(ZLIB_LIBRARY "${VELTRONA_ZLIB_STATIC}" CACHE FILEPATH "zlib, linked statically" FORCE)
endif()
find_package(ZLIB REQUIRED)

if(WIN32)
  # Unpacked by scripts/setup.sh from Debian's zlib source package.
  set(VELTRONA_MINIZIP_SOURCE_DIR "${CMAKE_SOURCE_DIR}/build/deps/minizip" CACHE PATH "minizip sources")
  if(NOT EXISTS "${VELTRONA_MINIZIP_SOURCE_DIR}/unzip.c")
    message(FATAL_ERROR "minizip sources not found in ${VELTRONA_MINIZIP_SOURCE_DIR}; run scripts/setup.sh")
  endif()
  add_library(minizip STATIC
    "${VELTRONA_MINIZIP_SOURCE_DIR}/ioapi.c"
    "${VELTRONA_MINIZIP_SOURCE_DIR}/unzip.c"
    "${VELTRONA_MINIZIP_SOURCE_DIR}/iowin32.c")
  target_include_directories(minizip SYSTEM PUBLIC "${VELTRONA_MINIZIP_SOURCE_DIR}")
  target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
  # Third-party code: its warnings are not ours to fix.
  target_compile_options(minizip PRIVATE -w)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(minizip INTERFACE)
  target_link_libraries(minizip INTERFACE PkgConfig::MINIZIP)
endif()
