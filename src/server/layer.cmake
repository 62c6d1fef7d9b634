# The server layer's own libraries: libsodium for the SHA-256 of packed files.
find_library(ZOR_SODIUM_LIBRARY sodium REQUIRED)
target_link_libraries(zor_server PUBLIC ${ZOR_SODIUM_LIBRARY})
