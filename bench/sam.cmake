# Point-prompt and concept segmentation: preprocessing, mask outlines, concept
# mask rasterisation (beside the per-pixel sampling it replaces) and the prompt
# tokenizer.
qm_add_benchmark(bench_sam SOURCES sam/bench_sam.cpp)
# The per-pixel reference form is shared with the tests.
target_include_directories(bench_sam PRIVATE "${PROJECT_SOURCE_DIR}/tests/common")
