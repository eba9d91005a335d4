qm_add_benchmark(bench_canvas SOURCES canvas/bench_canvas.cpp WIDGETS)
