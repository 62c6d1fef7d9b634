# Signed releases: Ed25519 signatures and SHA-256 from libsodium (Debian libsodium-dev).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZOR_SODIUM REQUIRED IMPORTED_TARGET libsodium)
target_link_libraries(zor_update PUBLIC PkgConfig::ZOR_SODIUM)
