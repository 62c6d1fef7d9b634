# Signed releases: Ed25519 signatures from libsodium (Debian libsodium-dev); SHA-256 from
# OpenSSL's libcrypto (Debian libssl-dev), which uses the CPU's SHA instructions.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZOR_SODIUM REQUIRED IMPORTED_TARGET libsodium)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(zor_update PUBLIC PkgConfig::ZOR_SODIUM OpenSSL::Crypto)
# Delta transfers: librsync (Debian librsync-dev) makes the signatures, deltas and patches;
# it ships no pkg-config file.
find_path(ZOR_LIBRSYNC_INCLUDE librsync.h REQUIRED)
find_library(ZOR_LIBRSYNC rsync REQUIRED)
target_include_directories(zor_update SYSTEM PRIVATE ${ZOR_LIBRSYNC_INCLUDE})
target_link_libraries(zor_update PUBLIC ${ZOR_LIBRSYNC})
