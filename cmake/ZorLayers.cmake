# Each folder under src/ is one static library, zor_<name>, built from every .cpp in it
# (subfolders included, except the ones for another platform or user interface: posix/ on
# Linux, win32/ when cross-building for Windows). A layer
# links only the layers it names after USES (and, through them, theirs); the layering test
# (cmake/CheckLayers.cmake) fails when a file includes a header of a layer it does not use.
# Adding a file needs no CMake change.
set(ZOR_LAYERS "")
set(ZOR_LAYER_RULES "")

function(zor_add_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "USES")
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  if(WIN32)
    list(FILTER srcs EXCLUDE REGEX "/posix/")
  else()
    list(FILTER srcs EXCLUDE REGEX "/win32/")
  endif()
  if(name STREQUAL "ui")
    # The FLTK windows are a library of their own so that headless builds need no display libs.
    list(FILTER srcs EXCLUDE REGEX "/ui/fltk/")
  endif()
  # What the layer may include: itself, the layers it names and everything those may include.
  set(reach ${name})
  set(deps "")
  foreach(used IN LISTS arg_USES)
    if(NOT TARGET zor_${used})
      message(FATAL_ERROR "layer ${name} uses ${used}, which is not declared before it")
    endif()
    list(APPEND deps zor_${used})
    get_property(used_reach GLOBAL PROPERTY ZOR_LAYER_REACH_${used})
    list(APPEND reach ${used_reach})
  endforeach()
  list(REMOVE_DUPLICATES reach)
  set_property(GLOBAL PROPERTY ZOR_LAYER_REACH_${name} ${reach})
  add_library(zor_${name} STATIC ${srcs})
  target_include_directories(zor_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(zor_${name} PUBLIC ${deps} Threads::Threads ZLIB::ZLIB)
  if(WIN32 AND name STREQUAL "platform")
    # The Win32 body's system libraries: sockets, the shell's folders, security, CNG.
    target_link_libraries(zor_platform PUBLIC ws2_32 iphlpapi shell32 ole32 advapi32 bcrypt)
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/src/${name}/layer.cmake)
    include(${CMAKE_SOURCE_DIR}/src/${name}/layer.cmake)
  endif()
  string(REPLACE ";" "," reach_text "${reach}")
  set(ZOR_LAYERS ${ZOR_LAYERS} zor_${name} PARENT_SCOPE)
  set(ZOR_LAYER_RULES ${ZOR_LAYER_RULES} "${name}:${reach_text}" PARENT_SCOPE)
endfunction()

# Registers the layering test; call after the last zor_add_layer.
function(zor_add_layering_test)
  string(REPLACE ";" "|" rules "${ZOR_LAYER_RULES}")
  add_test(NAME layering
           COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} "-DRULES=${rules}"
                   -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayers.cmake)
endfunction()
