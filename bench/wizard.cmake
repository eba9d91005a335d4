qm_add_benchmark(bench_imagefolderscan WIDGETS SOURCES ${CMAKE_CURRENT_LIST_DIR}/wizard/bench_imagefolderscan.cpp)
