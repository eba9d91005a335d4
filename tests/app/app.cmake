# The main window: shell, start-up, and the project commands.
qm_add_test(tst_mainwindow LABEL ui WIDGETS SOURCES tst_mainwindow.cpp AppTestSupport.h MainWindowTestAccess.h)
qm_add_test(tst_startup LABEL ui WIDGETS SOURCES tst_startup.cpp)
qm_add_test(tst_projectcommands LABEL ui WIDGETS SOURCES tst_projectcommands.cpp AppTestSupport.h
            MainWindowTestAccess.h)

# Not a test: the screenshot program run by scripts/screenshot-mainwindow.sh.
add_executable(mainwindow_screenshot mainwindow_screenshot.cpp MainWindowTestAccess.h)
target_include_directories(mainwindow_screenshot PRIVATE "${PROJECT_SOURCE_DIR}/tests/common")
target_link_libraries(mainwindow_screenshot PRIVATE quillmark_widgets)

# The window as people use it: focus, clicks that are no edit, undo of every edit.
qm_add_test(tst_windowinuse LABEL ui WIDGETS SOURCES tst_windowinuse.cpp AppTestSupport.h MainWindowTestAccess.h)
# The window on a 1280 x 720 screen (the test makes its own offscreen screen).
qm_add_test(tst_smallscreen LABEL ui WIDGETS SOURCES tst_smallscreen.cpp AppTestSupport.h MainWindowTestAccess.h)
