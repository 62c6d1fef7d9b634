# The layering test: run as `cmake -DSOURCE_DIR=... -DRULES=... -P CheckLayers.cmake`.
# RULES is "layer:reach,reach|layer:..." as zor_add_layer records it. Fails, naming every
# offending line, when
#  - a file under src/<layer>/ includes "<other>/..." for a layer outside its reach;
#  - a file outside src/platform/ includes an operating-system header;
#  - a file under src/base/ includes anything but the C++ standard library;
#  - a file outside src/ui/fltk/ includes the window toolkit.
cmake_minimum_required(VERSION 3.25)

set(os_header_pattern
    "^(unistd|fcntl|pthread|dlfcn|poll|signal|csignal|netdb|dirent|pwd|grp|spawn|termios|iconv|langinfo|syslog|sched|semaphore|ifaddrs|time|limits|windows|winsock2|ws2tcpip|io|direct|process|shlobj|aclapi)\\.h$|^(sys|netinet|netpacket|arpa|net|linux)/")

string(REPLACE "|" ";" rule_list "${RULES}")
set(layers "")
foreach(rule IN LISTS rule_list)
  string(REGEX MATCH "^([a-z_]+):(.*)$" _ "${rule}")
  set(layer ${CMAKE_MATCH_1})
  string(REPLACE "," ";" reach_${layer} "${CMAKE_MATCH_2}")
  list(APPEND layers ${layer})
endforeach()

set(problems "")
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/src/*.cpp
     ${SOURCE_DIR}/apps/*.h ${SOURCE_DIR}/apps/*.cpp ${SOURCE_DIR}/cloud/*.h ${SOURCE_DIR}/cloud/*.cpp)
foreach(file IN LISTS files)
  set(layer "")
  if(file MATCHES "^src/([a-z_]+)/")
    set(layer ${CMAKE_MATCH_1})
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    string(REGEX MATCH "[<\"]([^>\"]+)[>\"]" _ "${line}")
    set(header ${CMAKE_MATCH_1})
    if(line MATCHES "\"" AND header MATCHES "^([a-z_]+)/" AND layer)
      set(target_layer ${CMAKE_MATCH_1})
      if(target_layer IN_LIST layers AND NOT target_layer IN_LIST reach_${layer})
        list(APPEND problems "${file}: includes ${header}, but layer ${layer} does not use ${target_layer}")
      endif()
    endif()
    if(line MATCHES "<")
      if(NOT file MATCHES "^src/platform/" AND header MATCHES "${os_header_pattern}")
        list(APPEND problems "${file}: includes the OS header <${header}> outside src/platform/")
      endif()
      if(layer STREQUAL "base" AND header MATCHES "[./]" AND NOT header STREQUAL "cxxabi.h")
        list(APPEND problems "${file}: src/base/ uses the C++ standard library only, not <${header}>")
      endif()
      if(header MATCHES "^FL/" AND NOT file MATCHES "^src/ui/fltk/")
        list(APPEND problems "${file}: the window toolkit belongs in src/ui/fltk/, not <${header}>")
      endif()
    endif()
  endforeach()
endforeach()

list(LENGTH files file_count)
if(problems)
  list(JOIN problems "\n" text)
  message(FATAL_ERROR "layering broken:\n${text}")
endif()
message(STATUS "layering holds in ${file_count} files")
