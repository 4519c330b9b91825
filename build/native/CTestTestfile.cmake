# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/native
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[unit]=] "/work/main/build/native/tallowin_tests")
set_tests_properties([=[unit]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;22;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;38;include;/work/main/CMakeLists.txt;0;")
subdirs("googletest")
