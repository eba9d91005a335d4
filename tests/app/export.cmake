# The dataset and package export commands, run through the window.
qm_add_test(tst_exportcommands LABEL "ui;formats" WIDGETS SOURCES tst_exportcommands.cpp AppTestSupport.h
            MainWindowTestAccess.h)
target_include_directories(tst_exportcommands PRIVATE "${PROJECT_SOURCE_DIR}/tests/formats"
                                                      "${PROJECT_SOURCE_DIR}/tests/video")
