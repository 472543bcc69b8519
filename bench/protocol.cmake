add_executable(bench_protocol ${CMAKE_CURRENT_LIST_DIR}/bench_protocol.cpp)
target_link_libraries(bench_protocol PRIVATE protocol_core benchmark::benchmark_main)
