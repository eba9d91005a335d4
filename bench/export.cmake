# Dataset export through the main window, and the export job alone, beside
# cp -r of the same images.
qm_add_benchmark(bench_export SOURCES app/bench_export.cpp WIDGETS)
target_include_directories(bench_export PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
