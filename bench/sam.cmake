# Point-prompt and concept segmentation: preprocessing, mask outlines, concept
# mask rasterisation (beside the per-pixel sampling it replaces) and the prompt
# tokenizer.
qm_add_benchmark(bench_sam SOURCES sam/bench_sam.cpp)
