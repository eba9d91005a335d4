# AI assistance: preprocessing, outline tracing, suppression and the detection
# engine, the latter on small generated models run by the real ONNX Runtime.

set(QM_AI_MODELS_DIR "${CMAKE_CURRENT_BINARY_DIR}/models")
set(_qm_ai_model_script "${CMAKE_CURRENT_SOURCE_DIR}/make_test_models.py")
add_custom_command(
  OUTPUT "${QM_AI_MODELS_DIR}/models.stamp"
  COMMAND "${QUILLMARK_PYTHON}" "${_qm_ai_model_script}" "${QM_AI_MODELS_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${QM_AI_MODELS_DIR}/models.stamp"
  DEPENDS "${_qm_ai_model_script}"
  COMMENT "Generating test ONNX models"
  VERBATIM)
add_custom_target(qm_ai_test_models ALL DEPENDS "${QM_AI_MODELS_DIR}/models.stamp")

qm_add_test(tst_imagepreprocessing LABEL ai SOURCES tst_imagepreprocessing.cpp)
qm_add_test(tst_outlinetracing LABEL ai SOURCES tst_outlinetracing.cpp)
qm_add_test(tst_detection LABEL ai SOURCES tst_detection.cpp)
qm_add_test(tst_onnxinferencer LABEL ai SOURCES tst_onnxinferencer.cpp)
add_dependencies(tst_onnxinferencer qm_ai_test_models)
target_compile_definitions(tst_onnxinferencer PRIVATE QM_AI_MODELS_DIR="${QM_AI_MODELS_DIR}")

# The engine test once more, with the engine's own sources compiled under
# AddressSanitizer and the runtime's memory arena off, so that a read past the
# end of a model output fails the run instead of going unnoticed.
set(_qm_ai_engine_sources
  OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp Detection.cpp
  DetectionDecoding.cpp OutlineTracing.cpp OnnxInferencer.cpp CocoClassNames.cpp)
list(TRANSFORM _qm_ai_engine_sources PREPEND "${PROJECT_SOURCE_DIR}/src/ai/")
add_executable(tst_onnxinferencer_asan tst_onnxinferencer.cpp ${_qm_ai_engine_sources})
target_include_directories(tst_onnxinferencer_asan PRIVATE
  "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests/common")
target_link_libraries(tst_onnxinferencer_asan PRIVATE Qt6::Core Qt6::Gui Qt6::Test onnxruntime::onnxruntime)
target_compile_definitions(tst_onnxinferencer_asan PRIVATE
  QM_AI_MODELS_DIR="${QM_AI_MODELS_DIR}" QUILLMARK_ORT_NO_ARENA)
target_compile_options(tst_onnxinferencer_asan PRIVATE -fsanitize=address -fno-omit-frame-pointer)
target_link_options(tst_onnxinferencer_asan PRIVATE -fsanitize=address)
add_dependencies(tst_onnxinferencer_asan qm_ai_test_models)
add_test(NAME tst_onnxinferencer_asan COMMAND tst_onnxinferencer_asan)
set_tests_properties(tst_onnxinferencer_asan PROPERTIES
  LABELS "ai"
  TIMEOUT 300
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
