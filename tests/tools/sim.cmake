# Tests of the simulated tracer (tools/tracer-sim): its shapes, packets and reply checks, whole
# conversations over pty pairs and loopback TCP against a scripted peer, and the program itself.
tracer_add_gtest(tracer_sim_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/test_tracer_sim_shapes.cpp
        ${CMAKE_CURRENT_LIST_DIR}/test_tracer_sim_packets.cpp
        ${CMAKE_CURRENT_LIST_DIR}/test_tracer_sim_run.cpp
    LIBS tracer_sim_core protocol_core test_process test_support GTest::gtest_main)
target_compile_definitions(tracer_sim_tests PRIVATE TRACER_SIM_PATH="$<TARGET_FILE:tracer-sim>")
add_dependencies(tracer_sim_tests tracer-sim)
