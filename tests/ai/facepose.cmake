# Face and pose assistance: the engines on small generated models run by the real
# ONNX Runtime (also under AddressSanitizer), the two dialogs, and the commands
# through the real main window.

set(QM_FACEPOSE_MODELS_DIR "${CMAKE_CURRENT_BINARY_DIR}/facepose-models")
set(_qm_facepose_script "${CMAKE_CURRENT_SOURCE_DIR}/make_facepose_models.py")
add_custom_command(
  OUTPUT "${QM_FACEPOSE_MODELS_DIR}/models.stamp"
  COMMAND "${QUILLMARK_PYTHON}" "${_qm_facepose_script}" "${QM_FACEPOSE_MODELS_DIR}"
  COMMAND "${CMAKE_COMMAND}" -E touch "${QM_FACEPOSE_MODELS_DIR}/models.stamp"
  DEPENDS "${_qm_facepose_script}" "${CMAKE_CURRENT_SOURCE_DIR}/make_test_models.py"
  COMMENT "Generating face and pose test ONNX models"
  VERBATIM)
add_custom_target(qm_facepose_test_models ALL DEPENDS "${QM_FACEPOSE_MODELS_DIR}/models.stamp")

function(qm_facepose_engine_test name)
  qm_add_test(${name} LABEL ai SOURCES ${name}.cpp FacePoseTestSupport.h)
  add_dependencies(${name} qm_facepose_test_models)
  target_compile_definitions(${name} PRIVATE QM_FACEPOSE_MODELS_DIR="${QM_FACEPOSE_MODELS_DIR}")
  qm_ai_asan_test(${name}
    SOURCES OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp Detection.cpp DetectionDecoding.cpp
            OutlineTracing.cpp PictureInference.cpp FaceDetection.cpp FaceDecoding.cpp FaceInferencer.cpp
            PosePerson.cpp PoseDecoding.cpp PoseInferencer.cpp
    DEFINES QM_FACEPOSE_MODELS_DIR="${QM_FACEPOSE_MODELS_DIR}"
    DEPENDS qm_facepose_test_models)
endfunction()

qm_facepose_engine_test(tst_faceinferencer)
qm_facepose_engine_test(tst_poseinferencer)

# These programs look for the "models" folder from their own folder, as the
# program does: they run from a folder with none at or above it (the generated
# test models lie in a "models" folder beside the other AI test programs).
set(_qm_facepose_bin "${CMAKE_BINARY_DIR}/facepose-tests")
qm_add_test(tst_faceposedialogs LABEL ai WIDGETS SOURCES tst_faceposedialogs.cpp)
set_target_properties(tst_faceposedialogs PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${_qm_facepose_bin}")
qm_add_test(tst_faceposecommands LABEL ai WIDGETS TIMEOUT 600
            SOURCES tst_faceposecommands.cpp FacePoseTestSupport.h ../app/MainWindowTestAccess.h ../app/AppTestSupport.h)
set_target_properties(tst_faceposecommands PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${_qm_facepose_bin}")
target_include_directories(tst_faceposecommands PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
target_compile_definitions(tst_faceposecommands PRIVATE QM_FACEPOSE_MODELS_DIR="${QM_FACEPOSE_MODELS_DIR}")
add_dependencies(tst_faceposecommands qm_facepose_test_models)
