qm_add_benchmark(bench_mainwindow SOURCES app/bench_mainwindow.cpp WIDGETS)
target_include_directories(bench_mainwindow PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
qm_add_benchmark(bench_openproject SOURCES app/bench_openproject.cpp WIDGETS)
