# Each folder under src/ is one static library, zor_<name>, built from every .cpp in it
# (subfolders included, except the ones for another platform or user interface), linking
# every layer declared before it. Adding a file needs no CMake change.
set(ZOR_LAYERS "")

function(zor_add_layer name)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "/win32/")
  if(name STREQUAL "ui")
    # The FLTK windows are a library of their own so that headless builds need no display libs.
    list(FILTER srcs EXCLUDE REGEX "/ui/fltk/")
  endif()
  if(srcs)
    add_library(zor_${name} STATIC ${srcs})
    target_include_directories(zor_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(zor_${name} PUBLIC ${ZOR_LAYERS} Threads::Threads ZLIB::ZLIB)
    if(EXISTS ${CMAKE_SOURCE_DIR}/src/${name}/layer.cmake)
      include(${CMAKE_SOURCE_DIR}/src/${name}/layer.cmake)
    endif()
    set(ZOR_LAYERS ${ZOR_LAYERS} zor_${name} PARENT_SCOPE)
  endif()
endfunction()
