# The upload against the inventory service on loopback: the collection and the
# two exchanges timed apart. Run it with scripts/bench-upload, which times the
# same two requests made by curl in the same run.
add_executable(bench_upload bench/upload_bench.cpp)
target_link_libraries(bench_upload PRIVATE tallowin_win32)
set_target_properties(bench_upload PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
