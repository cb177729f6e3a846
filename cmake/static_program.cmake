# With VRD_STATIC_PROGRAM=ON the build also links static/<program>, the same
# program with glibc, libstdc++, zlib and argtable2 inside, for the release's
# tarballs: it runs on any Linux kernel of its architecture. It is linked from
# the objects of the normal program, so the release compiles each
# architecture once and gets the dynamic program for the Debian package too.
option(VRD_STATIC_PROGRAM "Also link static/<program> with every library inside" OFF)

if(VRD_STATIC_PROGRAM)
  find_library(VRD_ZLIB_STATIC NAMES libz.a REQUIRED)
  add_executable(vrd_static_program src/main.cpp)
  target_link_libraries(vrd_static_program PRIVATE vrdcore)
  set_target_properties(vrd_static_program PROPERTIES OUTPUT_NAME ${VRD_PROGNAME}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/static VRD_STATIC_LINK ON)
  target_link_options(vrd_static_program PRIVATE -static-pie)
  if(VRD_LINK_MAP)
    target_link_options(vrd_static_program PRIVATE
                        LINKER:-Map=${CMAKE_BINARY_DIR}/static/${VRD_PROGNAME}.map)
  endif()
  # The engine's zlib: the static library when the program being linked is
  # this one, the shared one (as found) for every other. Everything else the
  # engine links with stays as it is.
  get_target_property(engine_links zipengine INTERFACE_LINK_LIBRARIES)
  list(TRANSFORM engine_links REPLACE "^ZLIB::ZLIB$"
    "$<IF:$<BOOL:$<TARGET_PROPERTY:VRD_STATIC_LINK>>,${VRD_ZLIB_STATIC},ZLIB::ZLIB>")
  set_property(TARGET zipengine PROPERTY INTERFACE_LINK_LIBRARIES "${engine_links}")
endif()
