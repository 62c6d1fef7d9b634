# The windows of ZOR_UI=gui: the FLTK 1.3 port in fltk/, built into this layer when the
# toolkit is installed (scripts/install-deps.sh brings libfltk1.3-dev). Without it, or with
# -DZOR_GUI=OFF, "gui" falls back to running without windows.
option(ZOR_GUI "Build the FLTK windows of ZOR_UI=gui" ON)
find_program(ZOR_FLTK_CONFIG fltk-config)
if(ZOR_GUI AND ZOR_FLTK_CONFIG)
  execute_process(COMMAND ${ZOR_FLTK_CONFIG} --includedir OUTPUT_VARIABLE zor_fltk_includes
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${ZOR_FLTK_CONFIG} --ldflags OUTPUT_VARIABLE zor_fltk_ldflags
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(zor_fltk_ldflags UNIX_COMMAND "${zor_fltk_ldflags}")
  file(GLOB_RECURSE zor_fltk_srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/ui/fltk/*.cpp)
  target_sources(zor_ui PRIVATE ${zor_fltk_srcs})
  # The toolkit's headers are not ours to keep free of warnings.
  target_include_directories(zor_ui SYSTEM PRIVATE ${zor_fltk_includes})
  target_compile_definitions(zor_ui PUBLIC ZOR_WITH_FLTK=1)
  target_link_libraries(zor_ui PUBLIC ${zor_fltk_ldflags})
elseif(ZOR_GUI)
  message(STATUS "fltk-config not found: ZOR_UI=gui will run without windows")
endif()
