# The layering test: run as `cmake -DSOURCE_DIR=... -DRULES=... -P CheckLayers.cmake`.
# RULES is "layer:reach,reach|layer:..." as zor_add_layer records it. Fails, naming every
# offending line, when
#  - a file under src/<layer>/ includes "<other>/..." for a layer outside its reach;
#  - a file outside src/platform/posix/ and src/platform/win32/ includes an operating-system
#    header or calls the operating system (a POSIX or Win32 call by name);
#  - a file outside those two looks at errno or compares an error number
#    (E...) : the platform hands errors up by kind (platform/file_error_kind.h);
#  - a file above the platform layer reads, writes or lists files with std::filesystem,
#    stdio or fstream instead of the platform's `FileSystem` (std::filesystem::path as a
#    value is fine);
#  - a file under src/base/ includes anything but the C++ standard library;
#  - a file outside src/ui/fltk/ includes the window toolkit.
# Comments and string literals are left out before the code rules look at a line.
cmake_minimum_required(VERSION 3.25)

# Calls of the operating system by name. The short, common names count with a leading "::"
# only (a callable of our own called "read" is no OS call); the rest also without, at the
# start of an expression (a member of our own of that name, "T::fsync(" or "x.fsync(", does
# not count). Outside posix/ the OS headers are refused as well, so an unqualified "read"
# of the system would not compile there anyway.
set(os_call_short
    "open|close|read|write|stat|access|mkdir|rmdir|unlink|rename|kill|fork|pipe|dup|socket|bind|listen|accept|connect|shutdown|send|recv|poll|select|chmod|chown|umask|chdir|isatty|iconv|syslog")
set(os_call_names
    "openat|openat2|creat|pread|pwrite|lseek|fstat|lstat|statx|faccessat|flock|fcntl|ioctl|mkdirat|unlinkat|renameat2?|fsync|fdatasync|ftruncate|fchmod|fchown|utimensat|futimens|getpwuid|getpwuid_r|getpwnam|getpwnam_r|getgrgid|getgrnam|getuid|geteuid|getgid|getegid|getpid|getppid|vfork|execve?|execvp|waitpid|pipe2|dup2|accept4|sendto|recvfrom|sendmsg|recvmsg|setsockopt|getsockopt|getsockname|getpeername|ppoll|epoll_create1|epoll_ctl|epoll_wait|eventfd|mmap|munmap|dlopen|dlsym|dlclose|dlerror|gethostname|getaddrinfo|freeaddrinfo|sysconf|readlink|symlink|realpath|opendir|fdopendir|readdir|closedir|getcwd|sigaction|sigprocmask|signalfd|posix_spawnp?|pthread_[a-z_]+|sem_open|sem_wait|sem_post|shm_open|iconv_open|nl_langinfo|CreateFile[AW]?|CloseHandle|GetLastError|LoadLibrary[AW]?|GetProcAddress|CreateProcess[AW]?|MoveFileEx[AW]?|WSAStartup")
set(os_call_pattern
    "(^|[^A-Za-z0-9_>.:])(::)?(${os_call_names})[ \t]*\\(|(^|[^A-Za-z0-9_>.:])::(${os_call_short})[ \t]*\\(")
set(errno_pattern
    "(^|[^A-Za-z0-9_])errno([^A-Za-z0-9_]|$)|[=!]=[ \t]*E[A-Z0-9]+([^A-Za-z0-9_]|$)|(^|[^A-Za-z0-9_])E[A-Z0-9]+[ \t]*[=!]=|case[ \t]+E[A-Z0-9]+[ \t]*:|std::errc::(no_such_file_or_directory|file_exists|no_space_on_device|read_only_file_system|permission_denied|operation_not_permitted|is_a_directory|not_a_directory|file_too_large)|<cerrno>|<errno\\.h>")
set(file_access_pattern
    "<fstream>|std::(i|o)?fstream|(^|[^A-Za-z0-9_])(fopen|freopen|fdopen|tmpfile|fseeko?|ftello?|fread|fgets|fscanf|rewind|fclose)[ \t]*\\(|(std::filesystem|(^|[^A-Za-z0-9_])fs)::(exists|status|symlink_status|is_directory|is_regular_file|is_symlink|is_empty|is_other|create_directory|create_directories|remove|remove_all|rename|copy|copy_file|file_size|last_write_time|permissions|directory_iterator|recursive_directory_iterator|directory_entry|canonical|weakly_canonical|absolute|current_path|temp_directory_path|space|resize_file|read_symlink|equivalent|hard_link_count|create_symlink|create_hard_link)([^A-Za-z0-9_]|$)|using namespace std::filesystem")

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
  set(in_posix FALSE)
  # The platform's bodies (posix/, and win32/ for Windows) are where the OS is called.
  if(file MATCHES "^src/platform/(posix|win32)/")
    set(in_posix TRUE)
  endif()
  set(above_platform TRUE)
  if(file MATCHES "^src/platform/")
    set(above_platform FALSE)
  endif()
  if(NOT in_posix)
    # Only the lines that might break a rule are read, then looked at without comments and
    # string literals.
    file(STRINGS ${SOURCE_DIR}/${file} candidates
         REGEX "errno|E[A-Z0-9]+|fs::|std::|[a-z_0-9]+[ \t]*\\(|[A-Z][A-Za-z]+[ \t]*\\(|<[a-z]+")
    foreach(line IN LISTS candidates)
      if(line MATCHES "^[ \t]*#[ \t]*include")
        set(code "${line}")
      else()
        string(REGEX REPLACE "\"([^\"\\]|\\\\.)*\"" "\"\"" code "${line}")
        string(REGEX REPLACE "'([^'\\]|\\\\.)*'" "''" code "${code}")
        string(REGEX REPLACE "//.*$" "" code "${code}")
        if(code MATCHES "^[ \t]*\\*" OR code MATCHES "^[ \t]*/\\*")
          continue()  # a line of a block comment
        endif()
        if(code MATCHES "${os_call_pattern}")
          list(APPEND problems "${file}: calls the operating system outside src/platform/posix/: ${line}")
        endif()
      endif()
      if(code MATCHES "${errno_pattern}" AND NOT code MATCHES "[=!]=[ \t]*EOF|EOF[ \t]*[=!]=")
        list(APPEND problems "${file}: looks at error numbers outside src/platform/posix/ (compare FileErrorKind): ${line}")
      endif()
      if(above_platform AND code MATCHES "${file_access_pattern}")
        list(APPEND problems "${file}: reads or writes files past the platform's FileSystem: ${line}")
      endif()
    endforeach()
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
      if(NOT in_posix AND header MATCHES "${os_header_pattern}")
        list(APPEND problems "${file}: includes the OS header <${header}> outside src/platform/posix/")
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
