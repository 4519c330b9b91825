# Linux: the portable core's unit tests (and, with TALLOWIN_SANITIZE, the same
# tests under ASan/UBSan).
enable_testing()
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBXML2 QUIET IMPORTED_TARGET libxml-2.0)
endif()

if(TALLOWIN_FUZZ)
  include(cmake/fuzz.cmake)
  return()
endif()

file(GLOB TALLOWIN_UNIT_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp tests/support/*.cpp)
add_executable(tallowin_tests ${TALLOWIN_UNIT_SOURCES})
target_include_directories(tallowin_tests PRIVATE tests)
target_link_libraries(tallowin_tests PRIVATE tallowin_core GTest::gtest_main)
if(LIBXML2_FOUND)
  target_link_libraries(tallowin_tests PRIVATE PkgConfig::LIBXML2)
  target_compile_definitions(tallowin_tests PRIVATE TALLOWIN_HAVE_LIBXML2=1)
endif()
add_test(NAME unit COMMAND tallowin_tests)

# The Windows Installer packages' COM registration, generated from the table
# the ocx registers itself with (scripts/package runs it).
add_executable(tallowin_registry_wxs packaging/registry_wxs.cpp src/win32/registration_table.cpp)
target_include_directories(tallowin_registry_wxs PRIVATE src)
