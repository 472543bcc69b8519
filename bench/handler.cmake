# Reply latency of the protocol handler on a real serial port (a pseudo-terminal pair), measured
# by the simulated tracer on the other end, against a bare C program on the same line.
enable_language(C)
add_executable(reply_floor ${CMAKE_CURRENT_LIST_DIR}/reply_floor.c)
add_executable(reply_latency ${CMAKE_CURRENT_LIST_DIR}/reply_latency.cpp)
target_link_libraries(reply_latency PRIVATE protocol_handler tracer_sim_core util)
target_compile_definitions(reply_latency PRIVATE REPLY_FLOOR_PATH="$<TARGET_FILE:reply_floor>")
add_dependencies(reply_latency reply_floor)

add_executable(bench_handler ${CMAKE_CURRENT_LIST_DIR}/bench_handler.cpp)
target_link_libraries(bench_handler PRIVATE protocol_handler tracer_sim_core benchmark::benchmark)
