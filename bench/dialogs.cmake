# Opening the settings dialog to a usable window while its ports are still being probed, and opening
# the communication log window on a full log.
add_executable(bench_dialogs ${CMAKE_CURRENT_LIST_DIR}/bench_dialogs.cpp ${CMAKE_CURRENT_LIST_DIR}/WidgetBenchMain.cpp)
target_link_libraries(bench_dialogs PRIVATE app_dialogs benchmark::benchmark util)
# The list of recent jobs over a traces folder of 10,000 job trace files.
add_executable(bench_recent_jobs ${CMAKE_CURRENT_LIST_DIR}/bench_recent_jobs.cpp ${CMAKE_CURRENT_LIST_DIR}/WidgetBenchMain.cpp)
target_link_libraries(bench_recent_jobs PRIVATE app_dialogs trace_text benchmark::benchmark)
