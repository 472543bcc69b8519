# Benchmarks of the application core: building and joining a job trace file, and taking in a job
# packet (record lines, vendor, trace formats).
add_executable(bench_app_core ${CMAKE_CURRENT_LIST_DIR}/bench_app.cpp)
target_link_libraries(bench_app_core PRIVATE app_core protocol_core benchmark::benchmark_main)
