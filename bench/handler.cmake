# Reply latency of the protocol handler on a real serial port (a pseudo-terminal pair), measured
# by the simulated tracer on the other end.
add_executable(reply_latency ${CMAKE_CURRENT_LIST_DIR}/reply_latency.cpp)
target_link_libraries(reply_latency PRIVATE protocol_handler tracer_sim_core util)
