# Job latency of the main window in-process: from the tracer's last byte written to the job trace
# file on disk and the shape drawn, on the offscreen platform over a pseudo-terminal.
add_executable(form_latency ${CMAKE_CURRENT_LIST_DIR}/form_latency.cpp)
target_link_libraries(form_latency PRIVATE app tracer_sim_core util)
