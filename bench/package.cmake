qm_add_benchmark(bench_qpkg SOURCES package/bench_qpkg.cpp)
