# Dataset formats: import and export of a large COCO file and YOLO folder.
qm_add_benchmark(bench_formats SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats/bench_formats.cpp)
