# Benchmarks that run under Wine (never part of the test run): built in the
# x86_64 Windows tree, driven by bench/run_reader_bench.sh.
add_executable(bench_reader ${CMAKE_SOURCE_DIR}/bench/bench_reader.cpp ${CMAKE_SOURCE_DIR}/decoder/alloc_win.cpp)
target_link_libraries(bench_reader PRIVATE qm_runtime psapi)
target_link_options(bench_reader PRIVATE -static)
qm_warnings(bench_reader)
