# Second start of the program until the running instance has handled its knock (the restore of
# the main window begins there): the in-process first instance times real probe processes.
add_executable(bench_shell ${CMAKE_CURRENT_LIST_DIR}/bench_shell.cpp)
target_link_libraries(bench_shell PRIVATE app_shell benchmark::benchmark)
target_compile_definitions(bench_shell PRIVATE INSTANCE_PROBE="$<TARGET_FILE:instance_probe>")
add_dependencies(bench_shell instance_probe)
