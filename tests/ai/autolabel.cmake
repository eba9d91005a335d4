# The auto-label tool: the models folder, its dialog, the runner of AI runs over
# images, results as annotations, and the commands through the real window.

qm_add_test(tst_aibatchrun LABEL ai SOURCES tst_aibatchrun.cpp)
qm_add_test(tst_autolabelannotations LABEL ai SOURCES tst_autolabelannotations.cpp)

# These programs look for the "models" folder from their own folder, as the
# program does: they run from a folder with none at or above it (the generated
# test models lie in a "models" folder beside the other AI test programs).
set(_qm_autolabel_bin "${CMAKE_BINARY_DIR}/autolabel-tests")
qm_add_test(tst_autolabeldialog LABEL ai WIDGETS SOURCES tst_autolabeldialog.cpp AiDialogTestSupport.h)
set_target_properties(tst_autolabeldialog PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${_qm_autolabel_bin}")
set_tests_properties(tst_autolabeldialog PROPERTIES WORKING_DIRECTORY "${_qm_autolabel_bin}")

qm_add_test(tst_autolabelcommands LABEL ai WIDGETS SOURCES tst_autolabelcommands.cpp AiDialogTestSupport.h)
set_target_properties(tst_autolabelcommands PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${_qm_autolabel_bin}")
set_tests_properties(tst_autolabelcommands PROPERTIES WORKING_DIRECTORY "${_qm_autolabel_bin}")
target_include_directories(tst_autolabelcommands PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
target_compile_definitions(tst_autolabelcommands PRIVATE QM_AI_MODELS_DIR="${QM_AI_MODELS_DIR}")
add_dependencies(tst_autolabelcommands qm_ai_test_models)
