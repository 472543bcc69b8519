# Benchmarks of the trace geometry: measuring, box rescales and circumference changes by point count.
add_executable(bench_trace bench_trace.cpp)
target_link_libraries(bench_trace PRIVATE trace_core benchmark::benchmark_main)
