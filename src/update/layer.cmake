# Signed releases: Ed25519 signatures from libsodium (Debian libsodium-dev); SHA-256 from
# OpenSSL's libcrypto (Debian libssl-dev), which uses the CPU's SHA instructions.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZOR_SODIUM REQUIRED IMPORTED_TARGET libsodium)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
target_link_libraries(zor_update PUBLIC PkgConfig::ZOR_SODIUM OpenSSL::Crypto)
