# AI assistance: the engine's pre- and post-processing (the model run is not
# ours), each beside the same work done by OpenCV when it is installed.
qm_add_benchmark(bench_ai SOURCES ai/bench_ai.cpp OPENCV)
