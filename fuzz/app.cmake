# Fuzz targets of the application core: everything it reads from outside (trace files,
# settings.txt, packets) and the shape operations with arbitrary numbers.
tracer_add_fuzz_target(trace_file LIBS app_core)
if(NOT WIN32) # it reads settings.txt from a memory file (memfd, Linux)
    tracer_add_fuzz_target(settings_file LIBS app_core)
endif()
tracer_add_fuzz_target(job_intake LIBS app_core)
tracer_add_fuzz_target(shape_edit LIBS app_core)
tracer_add_fuzz_target(job_file_roundtrip LIBS app_core protocol_core)
