file(REMOVE_RECURSE
  "CMakeFiles/tallowin_tests.dir/tests/support/fake_platform.cpp.o"
  "CMakeFiles/tallowin_tests.dir/tests/support/fake_platform.cpp.o.d"
  "CMakeFiles/tallowin_tests.dir/tests/unit/dispatch_test.cpp.o"
  "CMakeFiles/tallowin_tests.dir/tests/unit/dispatch_test.cpp.o.d"
  "CMakeFiles/tallowin_tests.dir/tests/unit/helpers_test.cpp.o"
  "CMakeFiles/tallowin_tests.dir/tests/unit/helpers_test.cpp.o.d"
  "CMakeFiles/tallowin_tests.dir/tests/unit/operating_system_test.cpp.o"
  "CMakeFiles/tallowin_tests.dir/tests/unit/operating_system_test.cpp.o.d"
  "tallowin_tests"
  "tallowin_tests.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/tallowin_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
