# Face and pose assistance: the decoding of the engines' outputs, timed beside
# the same decoding in vectorised numpy (bench/ai/facepose_numpy_reference.py).
qm_add_benchmark(bench_facepose SOURCES ai/bench_facepose.cpp)
