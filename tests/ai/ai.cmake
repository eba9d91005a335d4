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

# An engine test once more, with the engines' own sources compiled under
# AddressSanitizer and the runtime's memory arena off, so that a read past the
# end of a model output fails the run instead of going unnoticed. SOURCES are
# files of src/ai; DEFINES name the generated models; DEPENDS makes them.
function(qm_ai_asan_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEFINES;DEPENDS" ${ARGN})
  list(TRANSFORM ARG_SOURCES PREPEND "${PROJECT_SOURCE_DIR}/src/ai/")
  add_executable(${name}_asan ${name}.cpp ${ARG_SOURCES})
  target_include_directories(${name}_asan PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests/common")
  target_link_libraries(${name}_asan PRIVATE
    Qt6::Core Qt6::Gui Qt6::Test onnxruntime::onnxruntime simdjson::simdjson)
  target_compile_definitions(${name}_asan PRIVATE ${ARG_DEFINES} QUILLMARK_ORT_NO_ARENA)
  target_compile_options(${name}_asan PRIVATE -fsanitize=address -fno-omit-frame-pointer)
  target_link_options(${name}_asan PRIVATE -fsanitize=address)
  add_dependencies(${name}_asan ${ARG_DEPENDS})
  add_test(NAME ${name}_asan COMMAND ${name}_asan)
  set_tests_properties(${name}_asan PROPERTIES
    LABELS "ai"
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
endfunction()

qm_ai_asan_test(tst_onnxinferencer
  SOURCES OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp Detection.cpp DetectionDecoding.cpp
          OutlineTracing.cpp OnnxInferencer.cpp CocoClassNames.cpp
  DEFINES QM_AI_MODELS_DIR="${QM_AI_MODELS_DIR}"
  DEPENDS qm_ai_test_models)
