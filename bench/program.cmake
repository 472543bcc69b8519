# Figures of the operator program as a whole process (start, job latency, memory, idle CPU),
# measured against the real tracer-interface binary over a pseudo-terminal.
add_executable(app_figures ${CMAKE_CURRENT_LIST_DIR}/app_figures.cpp)
target_link_libraries(app_figures PRIVATE tracer_sim_core protocol_core util)
