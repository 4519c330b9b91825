# The installed-programs section over uninstall fixtures of 1,000 and 10,000
# entries in a Wine registry, against the adjacent-swap sort as a baseline.
# Run it with scripts/bench-programs.
add_executable(bench_programs bench/programs_bench.cpp)
target_link_libraries(bench_programs PRIVATE tallowin_win32)
set_target_properties(bench_programs PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
