# The server layer's own library: libdeflate (Debian libdeflate-dev) packs files that fit in
# memory into the same zlib stream as zlib, several times faster.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZOR_LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
target_link_libraries(zor_server PRIVATE PkgConfig::ZOR_LIBDEFLATE)
