# The start-up tests share the temporary-folder helper of the platform tests.
target_sources(zor_startup_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/temp_folder.cpp)
