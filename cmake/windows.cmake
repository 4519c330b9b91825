# Windows (MinGW-w64): the binding, tallowin.exe and the tests that run under Wine.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
# No DLL beyond Windows' own: libstdc++, libgcc and winpthread are linked in.
add_link_options(-static -static-libgcc -static-libstdc++)

set(TALLOWIN_WIN_LIBS user32 gdi32 comctl32 advapi32 shell32 ole32 oleaut32 uuid
    winspool ws2_32 wsock32 iphlpapi netapi32 winhttp version shlwapi)

file(GLOB_RECURSE TALLOWIN_WIN32_SOURCES CONFIGURE_DEPENDS src/win32/*.cpp)
add_library(tallowin_win32 STATIC ${TALLOWIN_WIN32_SOURCES})
target_link_libraries(tallowin_win32 PUBLIC tallowin_core ${TALLOWIN_WIN_LIBS})

file(GLOB TALLOWIN_HOST_SOURCES CONFIGURE_DEPENDS src/host/*.cpp src/host/*.rc)
add_executable(tallowin WIN32 ${TALLOWIN_HOST_SOURCES})
target_link_libraries(tallowin PRIVATE tallowin_win32)
target_link_options(tallowin PRIVATE -municode)
set_target_properties(tallowin PROPERTIES OUTPUT_NAME tallowin RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

file(GLOB TALLOWIN_WINTEST_SOURCES CONFIGURE_DEPENDS tests/win/*.cpp tests/win/support/*.cpp)
add_executable(tallowin_wintests ${TALLOWIN_WINTEST_SOURCES})
target_include_directories(tallowin_wintests PRIVATE tests)
target_link_libraries(tallowin_wintests PRIVATE tallowin_win32 GTest::gtest_main)
set_target_properties(tallowin_wintests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Benchmarks: each bench/*.cmake adds its own programs (built, not run by scripts/test).
file(GLOB TALLOWIN_BENCH_CMAKES CONFIGURE_DEPENDS bench/*.cmake)
foreach(f IN LISTS TALLOWIN_BENCH_CMAKES)
  include(${f})
endforeach()

# The Wine tests read fixtures from the source tree (Wine's Z: is /).
target_compile_definitions(tallowin_wintests PRIVATE TALLOWIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
