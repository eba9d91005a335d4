qm_add_benchmark(bench_mainwindow SOURCES app/bench_mainwindow.cpp WIDGETS)
target_include_directories(bench_mainwindow PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
qm_add_benchmark(bench_openproject SOURCES app/bench_openproject.cpp WIDGETS)
# Presses keys as a user does: through the window's shortcuts (Qt Test's key clicks).
find_package(Qt6 REQUIRED COMPONENTS Test)
qm_add_benchmark(bench_stepphotos SOURCES app/bench_stepphotos.cpp WIDGETS LIBS Qt6::Test)
target_include_directories(bench_stepphotos PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
