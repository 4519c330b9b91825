
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/tests/support/fake_platform.cpp" "CMakeFiles/tallowin_tests.dir/tests/support/fake_platform.cpp.o" "gcc" "CMakeFiles/tallowin_tests.dir/tests/support/fake_platform.cpp.o.d"
  "/work/main/tests/unit/dispatch_test.cpp" "CMakeFiles/tallowin_tests.dir/tests/unit/dispatch_test.cpp.o" "gcc" "CMakeFiles/tallowin_tests.dir/tests/unit/dispatch_test.cpp.o.d"
  "/work/main/tests/unit/helpers_test.cpp" "CMakeFiles/tallowin_tests.dir/tests/unit/helpers_test.cpp.o" "gcc" "CMakeFiles/tallowin_tests.dir/tests/unit/helpers_test.cpp.o.d"
  "/work/main/tests/unit/operating_system_test.cpp" "CMakeFiles/tallowin_tests.dir/tests/unit/operating_system_test.cpp.o" "gcc" "CMakeFiles/tallowin_tests.dir/tests/unit/operating_system_test.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/native/CMakeFiles/tallowin_core.dir/DependInfo.cmake"
  "/work/main/build/native/googletest/googletest/CMakeFiles/gtest_main.dir/DependInfo.cmake"
  "/work/main/build/native/googletest/googletest/CMakeFiles/gtest.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
