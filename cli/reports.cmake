# The command for people: output formats (nlohmann-json), failure
# explanations, and on native builds info, spectrogram and waveform
# (the media probe, cairo and Pango for the pictures).
hx_header_only(json_dir nlohmann/json.hpp nlohmann-json3-dev)

target_sources(hx_cli_core PRIVATE formats.cpp open_file.cpp report_options.cpp)
target_include_directories(hx_cli_core SYSTEM PRIVATE ${json_dir})
# The media layer's result codes and the module's own, for explaining them.
target_include_directories(hx_cli_core PRIVATE ${PROJECT_SOURCE_DIR}/src)

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HX_CLI_MEDIA REQUIRED IMPORTED_TARGET cairo pangocairo fontconfig)
  target_sources(hx_cli_core PRIVATE colour_maps.cpp decibels.cpp info.cpp opened_file.cpp output_file.cpp
                                     plot.cpp png_file.cpp
                                     progress.cpp sonogram.cpp waveform.cpp)
  target_link_libraries(hx_cli_core PUBLIC PkgConfig::HX_CLI_MEDIA hx_media_probe)
  target_compile_definitions(hx_cli_core PRIVATE HARMIDEX_CLI_PICTURES=1)
else()
  target_sources(hx_cli_core PRIVATE pictures_absent.cpp)
endif()

# Install: the command, the module it loads (in the library folder, found
# from the command's own folder), and a man page made from --help,
# compressed as Debian's policy asks.
if(NOT WIN32)
  include(GNUInstallDirs)
  # A private plug-in folder; Debian's multiarch one where the compiler
  # names it, so that packaging tools see no library for ldconfig.
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(hx_module_dir lib/${CMAKE_LIBRARY_ARCHITECTURE}/harmidex)
  else()
    set(hx_module_dir ${CMAKE_INSTALL_LIBDIR}/harmidex)
  endif()
  file(RELATIVE_PATH hx_module_from_bin /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${hx_module_dir})
  set_property(SOURCE session.cpp APPEND PROPERTY COMPILE_DEFINITIONS
               HARMIDEX_INSTALLED_MODULE_DIR="${hx_module_from_bin}")

  set(hx_man ${PROJECT_BINARY_DIR}/harmidex.1)
  add_custom_command(OUTPUT ${hx_man} ${hx_man}.gz
    COMMAND ${CMAKE_COMMAND} -DHARMIDEX=$<TARGET_FILE:harmidex_cli> -DOUT=${hx_man}
            -DVERSION=${PROJECT_VERSION} -P ${CMAKE_CURRENT_SOURCE_DIR}/manpage.cmake
    COMMAND gzip -9nf -k ${hx_man}
    DEPENDS harmidex_cli harmidex_module ${CMAKE_CURRENT_SOURCE_DIR}/manpage.cmake
    COMMENT "Man page from harmidex --help")
  add_custom_target(harmidex_man ALL DEPENDS ${hx_man} ${hx_man}.gz)

  install(TARGETS harmidex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS harmidex_module LIBRARY DESTINATION ${hx_module_dir})
  install(FILES ${hx_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
