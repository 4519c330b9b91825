# Windows (MinGW-w64): the binding, tallowin.exe and the tests that run under Wine.
add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX WIN32_LEAN_AND_MEAN)
# No DLL beyond Windows' own: libstdc++, libgcc and winpthread are linked in.
add_link_options(-static -static-libgcc -static-libstdc++)
# -O2, not -O3: the packaged ocx must stay under 1 MB stripped, and -O3's
# inlining and unrolling made the x86 one 1.08 MB (-O2 makes the code about a
# quarter smaller).
string(REPLACE "-O3" "-O2" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
string(REPLACE "-O3" "-O2" CMAKE_C_FLAGS_RELEASE "${CMAKE_C_FLAGS_RELEASE}")

set(TALLOWIN_WIN_LIBS user32 gdi32 comctl32 advapi32 shell32 ole32 oleaut32 uuid
    winspool ws2_32 wsock32 iphlpapi netapi32 winhttp version shlwapi taskschd bcrypt)

file(GLOB_RECURSE TALLOWIN_WIN32_SOURCES CONFIGURE_DEPENDS src/win32/*.cpp)
add_library(tallowin_win32 STATIC ${TALLOWIN_WIN32_SOURCES})
target_link_libraries(tallowin_win32 PUBLIC tallowin_core ${TALLOWIN_WIN_LIBS})

# The control's type library (one per architecture, from src/ocx/tallowin.idl)
# and the version header that the resource scripts include.
set(TALLOWIN_GENERATED ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${TALLOWIN_GENERATED})
configure_file(cmake/tallowin_version.h.in ${TALLOWIN_GENERATED}/tallowin_version.h @ONLY)
find_program(TALLOWIN_WIDL NAMES x86_64-w64-mingw32-widl i686-w64-mingw32-widl widl REQUIRED)
# The IDL imports come from libwine-dev (Debian's MinGW ships no .idl files;
# MSYS2's does), stdole2.tlb from Wine's library folder or Windows itself.
find_path(TALLOWIN_WINE_IDL_DIR oaidl.idl
          PATHS /usr/include/wine/wine/windows /usr/include/wine/windows ${CMAKE_FIND_ROOT_PATH}/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(TALLOWIN_STDOLE2_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
                /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows "$ENV{SystemRoot}/System32"
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TALLOWIN_WIDL_ARCH --win64)
else()
  set(TALLOWIN_WIDL_ARCH --win32)
endif()
set(TALLOWIN_TLB ${TALLOWIN_GENERATED}/tallowin.tlb)
add_custom_command(
  OUTPUT ${TALLOWIN_TLB}
  COMMAND ${TALLOWIN_WIDL} ${TALLOWIN_WIDL_ARCH} -t -I ${TALLOWIN_WINE_IDL_DIR} -L ${TALLOWIN_STDOLE2_DIR}
          -o ${TALLOWIN_TLB} ${CMAKE_SOURCE_DIR}/src/ocx/tallowin.idl
  DEPENDS ${CMAKE_SOURCE_DIR}/src/ocx/tallowin.idl
  COMMENT "widl ${TALLOWIN_WIDL_ARCH}: tallowin.tlb"
  VERBATIM)
add_custom_target(tallowin_tlb DEPENDS ${TALLOWIN_TLB})

# A target whose resource script embeds the type library (TYPELIB 1).
function(tallowin_embed_typelib target)
  get_target_property(sources ${target} SOURCES)
  foreach(src IN LISTS sources)
    if(src MATCHES "\\.rc$")
      set_source_files_properties(${src} PROPERTIES OBJECT_DEPENDS ${TALLOWIN_TLB})
    endif()
  endforeach()
  target_include_directories(${target} PRIVATE ${TALLOWIN_GENERATED})
  add_dependencies(${target} tallowin_tlb)
endfunction()

file(GLOB TALLOWIN_HOST_SOURCES CONFIGURE_DEPENDS src/host/*.cpp src/host/*.rc)
add_executable(tallowin WIN32 ${TALLOWIN_HOST_SOURCES})
target_link_libraries(tallowin PRIVATE tallowin_win32)
target_link_options(tallowin PRIVATE -municode)
set_target_properties(tallowin PROPERTIES OUTPUT_NAME tallowin RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
tallowin_embed_typelib(tallowin)
# The exe's resources: its manifest, and the control's icon from src/ocx.
target_include_directories(tallowin PRIVATE src/host src/ocx)

# tallowin.ocx: the in-process COM server. The .def keeps the 32-bit exports
# undecorated (the stdcall fix-up maps them onto the decorated symbols).
add_library(tallowin_ocx SHARED src/ocx/exports.cpp src/ocx/tallowin.def src/ocx/tallowin_ocx.rc)
target_link_libraries(tallowin_ocx PRIVATE tallowin_win32)
target_include_directories(tallowin_ocx PRIVATE src/ocx)
set_target_properties(tallowin_ocx PROPERTIES OUTPUT_NAME tallowin PREFIX "" SUFFIX ".ocx"
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_link_options(tallowin_ocx PRIVATE -Wl,--enable-stdcall-fixup)
endif()
tallowin_embed_typelib(tallowin_ocx)

file(GLOB TALLOWIN_WINTEST_SOURCES CONFIGURE_DEPENDS tests/win/*.cpp tests/win/support/*.cpp tests/win/support/*.rc)
add_executable(tallowin_wintests ${TALLOWIN_WINTEST_SOURCES})
target_include_directories(tallowin_wintests PRIVATE tests)
target_link_libraries(tallowin_wintests PRIVATE tallowin_win32 psapi GTest::gtest_main)
set_target_properties(tallowin_wintests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
tallowin_embed_typelib(tallowin_wintests)
# The tests run tallowin.exe and register tallowin.ocx from beside themselves.
add_dependencies(tallowin_wintests tallowin tallowin_ocx)

# Benchmarks: each bench/*.cmake adds its own programs (built, not run by scripts/test).
file(GLOB TALLOWIN_BENCH_CMAKES CONFIGURE_DEPENDS bench/*.cmake)
foreach(f IN LISTS TALLOWIN_BENCH_CMAKES)
  include(${f})
endforeach()

# The Wine tests read fixtures from the source tree (Wine's Z: is /).
target_compile_definitions(tallowin_wintests PRIVATE TALLOWIN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
