# Measuring tool of the tracer link: the CPU an open but idle serial port costs, and the round trip
# of a request and its reply through the machine over a pseudo-terminal.
add_executable(bench_link bench_link.cpp)
target_link_libraries(bench_link PRIVATE link util)
