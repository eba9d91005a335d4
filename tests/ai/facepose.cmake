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

  # The same test with the engine's sources compiled under AddressSanitizer and
  # the runtime's memory arena off, so that a read past the end of a model
  # output fails the run instead of going unnoticed.
  set(_sources
    OrtRuntime.cpp FloatTensorView.cpp ImagePreprocessing.cpp Detection.cpp DetectionDecoding.cpp
    OutlineTracing.cpp PictureInference.cpp FaceDetection.cpp FaceDecoding.cpp FaceInferencer.cpp
    PosePerson.cpp PoseDecoding.cpp PoseInferencer.cpp)
  list(TRANSFORM _sources PREPEND "${PROJECT_SOURCE_DIR}/src/ai/")
  add_executable(${name}_asan ${name}.cpp ${_sources})
  target_include_directories(${name}_asan PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests/common")
  target_link_libraries(${name}_asan PRIVATE Qt6::Core Qt6::Gui Qt6::Test onnxruntime::onnxruntime)
  target_compile_definitions(${name}_asan PRIVATE
    QM_FACEPOSE_MODELS_DIR="${QM_FACEPOSE_MODELS_DIR}" QUILLMARK_ORT_NO_ARENA)
  target_compile_options(${name}_asan PRIVATE -fsanitize=address -fno-omit-frame-pointer)
  target_link_options(${name}_asan PRIVATE -fsanitize=address)
  add_dependencies(${name}_asan qm_facepose_test_models)
  add_test(NAME ${name}_asan COMMAND ${name}_asan)
  set_tests_properties(${name}_asan PROPERTIES
    LABELS "ai"
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
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
