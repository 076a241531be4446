# Helpers that give every target of ours the same flags and the same rule
# for which files belong to which build.

function(veltrona_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VELTRONA_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${VELTRONA_WERROR}>:-Werror>)
  endif()
  if(VELTRONA_SANITIZE AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-sanitize-recover=undefined
                                             -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(VELTRONA_FUZZ AND NOT WIN32)
    # Coverage for the fuzz targets that link this code.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                 _WIN32_WINNT=0x0601)
  endif()
endfunction()

# The .cpp files of `dir` (and, with RECURSE, its sub-folders) that this
# build compiles: everything on Windows, everything but *_win files elsewhere.
function(veltrona_sources out dir)
  cmake_parse_arguments(ARG "RECURSE" "" "" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE files CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.cpp")
  else()
    file(GLOB files CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${dir}/*.cpp")
  endif()
  list(FILTER files EXCLUDE REGEX "/(main|exports)_win\\.cpp$")
  if(NOT WIN32)
    list(FILTER files EXCLUDE REGEX "_win(_test)?\\.cpp$")
  endif()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# A static library of one folder's code, linked to the libraries named after it.
function(veltrona_library name dir)
  veltrona_sources(files ${dir})
  if(NOT files)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE "${CMAKE_SOURCE_DIR}")
    target_link_libraries(${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(${name} STATIC ${files})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARGN})
  veltrona_warnings(${name})
  if(VELTRONA_SANITIZE AND NOT WIN32)
    target_link_options(${name} INTERFACE -fsanitize=address,undefined)
  endif()
endfunction()

# The version block of a shipped program, from cmake/version.rc.in.
function(veltrona_version_resource target description)
  set(VELTRONA_DESCRIPTION "${description}")
  set(VELTRONA_INTERNAL_NAME "${target}")
  set(VELTRONA_ORIGINAL_NAME "${target}.exe")
  string(REPLACE "." "," VELTRONA_VERSION_COMMAS "${PROJECT_VERSION}")
  set(rc "${CMAKE_BINARY_DIR}/version/${target}.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
