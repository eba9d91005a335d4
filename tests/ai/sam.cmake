# Point-prompt and concept segmentation: the tokenizer, both engines on small
# generated models run by the real ONNX Runtime, their dialogs, and the commands
# through the real main window.

set(QM_SAM_MODELS_DIR "${CMAKE_CURRENT_BINARY_DIR}/sam_models")
set(_qm_sam_model_script "${CMAKE_CURRENT_SOURCE_DIR}/make_sam_test_models.py")
add_custom_command(
  OUTPUT "${QM_SAM_MODELS_DIR}/models.stamp"
  COMMAND "${QUILLMARK_PYTHON}" "${_qm_sam_model_script}" "${QM_SAM_MODELS_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${QM_SAM_MODELS_DIR}/models.stamp"
  DEPENDS "${_qm_sam_model_script}"
  COMMENT "Generating point-prompt and concept test models"
  VERBATIM)
add_custom_target(qm_sam_test_models ALL DEPENDS "${QM_SAM_MODELS_DIR}/models.stamp")

qm_add_test(tst_bpetokenizer LABEL ai SOURCES tst_bpetokenizer.cpp)
# The dialogs and commands find the models folder next to the program first;
# each of these tests runs from a folder of its own, away from every other
# test's models, and lays out the "models" folder there itself.
qm_add_test(tst_samdialogs LABEL ai WIDGETS SOURCES tst_samdialogs.cpp)
set_target_properties(tst_samdialogs PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/sam-tests/dialogs")

foreach(_test tst_saminferencer tst_sam3inferencer)
  qm_add_test(${_test} LABEL ai SOURCES ${_test}.cpp)
  add_dependencies(${_test} qm_sam_test_models)
  target_compile_definitions(${_test} PRIVATE QM_SAM_MODELS_DIR="${QM_SAM_MODELS_DIR}")
endforeach()

qm_add_test(tst_samcommands LABEL ai WIDGETS SOURCES tst_samcommands.cpp)
add_dependencies(tst_samcommands qm_sam_test_models)
target_compile_definitions(tst_samcommands PRIVATE QM_SAM_MODELS_DIR="${QM_SAM_MODELS_DIR}")
target_include_directories(tst_samcommands PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
set_target_properties(tst_samcommands PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/sam-tests/commands")

# The engine tests once more, with the engines' own sources compiled under
# AddressSanitizer and the runtime's memory arena off, so that a read past the
# end of a model output (short, bool or oddly shaped outputs) fails the run.
set(_qm_sam_engine_sources
  OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp OutlineTracing.cpp
  SamInferencer.cpp BpeTokenizer.cpp Sam3Detection.cpp Sam3Inferencer.cpp)
list(TRANSFORM _qm_sam_engine_sources PREPEND "${PROJECT_SOURCE_DIR}/src/ai/")
foreach(_test tst_saminferencer tst_sam3inferencer)
  add_executable(${_test}_asan ${_test}.cpp ${_qm_sam_engine_sources})
  target_include_directories(${_test}_asan PRIVATE
    "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests/common")
  target_link_libraries(${_test}_asan PRIVATE
    Qt6::Core Qt6::Gui Qt6::Test onnxruntime::onnxruntime simdjson::simdjson)
  target_compile_definitions(${_test}_asan PRIVATE
    QM_SAM_MODELS_DIR="${QM_SAM_MODELS_DIR}" QUILLMARK_ORT_NO_ARENA)
  target_compile_options(${_test}_asan PRIVATE -fsanitize=address -fno-omit-frame-pointer)
  target_link_options(${_test}_asan PRIVATE -fsanitize=address)
  add_dependencies(${_test}_asan qm_sam_test_models)
  add_test(NAME ${_test}_asan COMMAND ${_test}_asan)
  set_tests_properties(${_test}_asan PROPERTIES
    LABELS "ai"
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
endforeach()
