qm_add_benchmark(bench_panels SOURCES panels/bench_panels.cpp WIDGETS)
