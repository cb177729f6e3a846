# The Windows program's resources: its manifest and version information.
# Both carry the release version VRD_VERSION (CMakeLists.txt), <build>.<release>.
if(VRD_PLATFORM STREQUAL "windows")
  enable_language(RC)
  target_sources(${VRD_PROGNAME} PRIVATE ${CMAKE_SOURCE_DIR}/src/vrdskincfgw.rc)
  # The manifest carries the version too; windres finds it in the
  # folder of generated headers, and a change to it must rebuild the resources.
  set(_vrd_manifest ${CMAKE_BINARY_DIR}/generated/vrdskincfgw.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/src/vrdskincfgw.manifest.in ${_vrd_manifest} @ONLY)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/vrdskincfgw.rc PROPERTIES
    OBJECT_DEPENDS ${_vrd_manifest})
  # The link otherwise stamps the build time into the program.
  target_link_options(${VRD_PROGNAME} PRIVATE -Wl,--no-insert-timestamp)
endif()
