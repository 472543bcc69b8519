# Benchmarks of the trace geometry: measuring, box rescales and circumference changes by point count.
add_executable(bench_trace bench_trace.cpp)
target_link_libraries(bench_trace PRIVATE trace_core benchmark::benchmark_main)

# The drawing layout of one paint (measure, lay out both eyes or one) at 512 and 4096 points.
add_executable(bench_trace_layout bench_trace_layout.cpp)
target_link_libraries(bench_trace_layout PRIVATE trace_core benchmark::benchmark_main)
