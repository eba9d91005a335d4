qm_add_benchmark(bench_video SOURCES video/bench_video.cpp)
