# The platform layer's optional library: OpenCC (Debian libopencc-dev, data in libopencc-data)
# for the simplified <-> traditional conversion tables. Without it the build has no tables.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZOR_OPENCC IMPORTED_TARGET opencc)
if(ZOR_OPENCC_FOUND)
  target_link_libraries(zor_platform PRIVATE PkgConfig::ZOR_OPENCC)
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/platform/posix/opencc_script_tables.cpp APPEND
               PROPERTY COMPILE_DEFINITIONS ZOR_HAVE_OPENCC)
else()
  message(STATUS "OpenCC not found: the programs have no simplified/traditional conversion tables")
endif()
