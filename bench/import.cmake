qm_add_benchmark(bench_import SOURCES import/bench_import.cpp WIDGETS)
