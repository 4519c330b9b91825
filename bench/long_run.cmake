# One process used over and over (tabs, uploads, ActiveX cycles), its growth
# bounded. Run it with scripts/bench-long-run.
add_executable(bench_long_run bench/long_run_bench.cpp)
target_link_libraries(bench_long_run PRIVATE tallowin_win32 psapi)
set_target_properties(bench_long_run PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
