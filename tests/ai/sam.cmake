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

foreach(_test tst_saminferencer tst_sam3inferencer)
  qm_ai_asan_test(${_test}
    SOURCES OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp OutlineTracing.cpp
            SamInferencer.cpp BpeTokenizer.cpp Sam3Detection.cpp Sam3Inferencer.cpp
    DEFINES QM_SAM_MODELS_DIR="${QM_SAM_MODELS_DIR}"
    DEPENDS qm_sam_test_models)
endforeach()
