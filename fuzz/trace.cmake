# Fuzz targets of the trace geometry.
tracer_add_fuzz_target(trace_calc LIBS trace_core)
