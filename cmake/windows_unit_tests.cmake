# Unit tests of the Windows platform files (*_win_test.cpp), cross-built with
# GoogleTest from source (Debian's googletest package ships it) and run under
# the cross-compiling emulator, Wine. The other suites stay native: they make
# their archives with host tools that a Windows program cannot start.
set(VRD_GTEST_SOURCE_DIR /usr/src/googletest/googletest
    CACHE PATH "GoogleTest source for cross builds")

set(WIN_TESTS ${CMAKE_SOURCE_DIR}/tests/src/consolecp_win_test.cpp
              ${CMAKE_SOURCE_DIR}/tests/src/skinplatform_win_test.cpp
              ${CMAKE_SOURCE_DIR}/tests/zipengine/ZipPlatform_win_test.cpp)
if(EXISTS ${VRD_GTEST_SOURCE_DIR}/CMakeLists.txt)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${VRD_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PUBLIC
    "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/gtest_win32_threads.h")
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)

  add_executable(win_unit_tests ${WIN_TESTS})
  target_link_libraries(win_unit_tests PRIVATE vrdcore gtest gtest_main)
  target_compile_definitions(win_unit_tests PRIVATE ${VRD_PLATFORM_DEFINITION})
  add_test(NAME win_unit_tests COMMAND win_unit_tests)
endif()
