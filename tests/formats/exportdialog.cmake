# The export dialog, styled as the window shows it, and its agreement with the export job.
qm_add_test(tst_exportdialog LABEL "ui;formats" WIDGETS SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tst_exportdialog.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/FormatTestSupport.h)
