# The auto-label tool's run over all images, through the real window, beside the
# engine alone; with the tiny detector the tests generate.
set(_qm_bench_models "${CMAKE_CURRENT_BINARY_DIR}/generated-models")
set(_qm_bench_model_script "${PROJECT_SOURCE_DIR}/tests/ai/make_test_models.py")
add_custom_command(
  OUTPUT "${_qm_bench_models}/models.stamp"
  COMMAND /usr/bin/python3 "${_qm_bench_model_script}" "${_qm_bench_models}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${_qm_bench_models}/models.stamp"
  DEPENDS "${_qm_bench_model_script}"
  COMMENT "Generating the benchmark's ONNX models"
  VERBATIM)
add_custom_target(qm_bench_models ALL DEPENDS "${_qm_bench_models}/models.stamp")

qm_add_benchmark(bench_autolabel SOURCES ai/bench_autolabel.cpp WIDGETS)
target_include_directories(bench_autolabel PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
target_compile_definitions(bench_autolabel PRIVATE QM_BENCH_MODELS_DIR="${_qm_bench_models}")
add_dependencies(bench_autolabel qm_bench_models)
