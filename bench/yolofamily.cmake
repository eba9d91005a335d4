# The YOLO family's further formats and the CSV box formats: import and export
# of a large generated dataset, beside Python reading the same files.
qm_add_benchmark(bench_yolofamily SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/formats/bench_yolofamily.cpp)
