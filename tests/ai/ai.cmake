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
# end of a model output fails the run instead of going unnoticed. The engines are
# compiled so once, into one library that every such test links (each takes only
# the objects it needs); -O1 as the sanitizer recommends. SOURCES are files of
# src/ai the test needs; DEFINES name the generated models; DEPENDS makes them.
set(_qm_asan_engine_sources
  OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp Detection.cpp DetectionDecoding.cpp
  OutlineTracing.cpp OnnxInferencer.cpp CocoClassNames.cpp PictureInference.cpp FaceDetection.cpp
  FaceDecoding.cpp FaceInferencer.cpp PosePerson.cpp PoseDecoding.cpp PoseInferencer.cpp
  SamInferencer.cpp BpeTokenizer.cpp Sam3Detection.cpp Sam3Inferencer.cpp AreaResampler.cpp)
list(TRANSFORM _qm_asan_engine_sources PREPEND "${PROJECT_SOURCE_DIR}/src/ai/")
# The shared reader of regular files, from the core library.
list(APPEND _qm_asan_engine_sources "${PROJECT_SOURCE_DIR}/src/model/RegularFile.cpp")
add_library(qm_ai_engines_asan STATIC ${_qm_asan_engine_sources})
set_target_properties(qm_ai_engines_asan PROPERTIES AUTOMOC OFF)
target_include_directories(qm_ai_engines_asan PUBLIC "${PROJECT_SOURCE_DIR}/src")
target_link_libraries(qm_ai_engines_asan PUBLIC
  Qt6::Core Qt6::Gui onnxruntime::onnxruntime simdjson::simdjson)
target_compile_definitions(qm_ai_engines_asan PUBLIC QUILLMARK_ORT_NO_ARENA)
target_compile_options(qm_ai_engines_asan PUBLIC -fsanitize=address -fno-omit-frame-pointer -O1)
target_link_options(qm_ai_engines_asan PUBLIC -fsanitize=address)

function(qm_ai_asan_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEFINES;DEPENDS" ${ARGN})
  foreach(_source IN LISTS ARG_SOURCES)
    if(NOT "${PROJECT_SOURCE_DIR}/src/ai/${_source}" IN_LIST _qm_asan_engine_sources)
      message(FATAL_ERROR "qm_ai_asan_test(${name}): add ${_source} to _qm_asan_engine_sources")
    endif()
  endforeach()
  add_executable(${name}_asan ${name}.cpp)
  target_include_directories(${name}_asan PRIVATE "${PROJECT_SOURCE_DIR}/tests/common")
  target_link_libraries(${name}_asan PRIVATE qm_ai_engines_asan Qt6::Test)
  target_compile_definitions(${name}_asan PRIVATE ${ARG_DEFINES})
  add_dependencies(${name}_asan ${ARG_DEPENDS})
  add_test(NAME ${name}_asan COMMAND ${name}_asan)
  set_tests_properties(${name}_asan PROPERTIES
    LABELS "ai"
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
endfunction()

qm_ai_asan_test(tst_onnxinferencer
  SOURCES OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp Detection.cpp DetectionDecoding.cpp
          OutlineTracing.cpp OnnxInferencer.cpp CocoClassNames.cpp AreaResampler.cpp FaceInferencer.cpp
          PoseInferencer.cpp SamInferencer.cpp Sam3Inferencer.cpp BpeTokenizer.cpp
  DEFINES QM_AI_MODELS_DIR="${QM_AI_MODELS_DIR}"
  DEPENDS qm_ai_test_models)

qm_add_test(tst_modelload LABEL ai SOURCES tst_modelload.cpp)
add_dependencies(tst_modelload qm_ai_test_models)
target_compile_definitions(tst_modelload PRIVATE QM_AI_MODELS_DIR="${QM_AI_MODELS_DIR}")
