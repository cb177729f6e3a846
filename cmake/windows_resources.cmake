# The Windows program's resources: its manifest and version information.
# Needs VRD_BUILD (cmake/install.cmake reads it from src/buildconfig.h).
if(VRD_PLATFORM STREQUAL "windows")
  enable_language(RC)
  target_sources(${VRD_PROGNAME} PRIVATE ${CMAKE_SOURCE_DIR}/src/vrdskincfgw.rc)
  target_compile_definitions(${VRD_PROGNAME} PRIVATE VRD_BUILD_NUMBER=${VRD_BUILD})
  # windres reads the manifest; a change to it must rebuild the resources.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/vrdskincfgw.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_SOURCE_DIR}/src/vrdskincfgw.manifest)
  # The link otherwise stamps the build time into the program.
  target_link_options(${VRD_PROGNAME} PRIVATE -Wl,--no-insert-timestamp)
endif()
