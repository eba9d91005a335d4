# The main window: shell, start-up, and the project commands.
qm_add_test(tst_mainwindow LABEL ui WIDGETS SOURCES tst_mainwindow.cpp AppTestSupport.h MainWindowTestAccess.h)
qm_add_test(tst_startup LABEL ui WIDGETS SOURCES tst_startup.cpp)
qm_add_test(tst_projectcommands LABEL ui WIDGETS SOURCES tst_projectcommands.cpp AppTestSupport.h
            MainWindowTestAccess.h)

# Not a test: the screenshot program run by scripts/screenshot-mainwindow.sh.
add_executable(mainwindow_screenshot mainwindow_screenshot.cpp MainWindowTestAccess.h)
target_include_directories(mainwindow_screenshot PRIVATE "${PROJECT_SOURCE_DIR}/tests/common")
target_link_libraries(mainwindow_screenshot PRIVATE quillmark_widgets)
