# Theme, icons, bars, and the screenshot sheet of every bar and panel.
qm_add_test(tst_theme_icons LABEL ui WIDGETS SOURCES tst_theme_icons.cpp)
qm_add_test(tst_bars LABEL ui WIDGETS SOURCES tst_bars.cpp)
qm_add_test(tst_screenshots LABEL ui WIDGETS SOURCES tst_screenshots.cpp)
target_include_directories(tst_screenshots PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
target_compile_definitions(tst_screenshots PRIVATE
  QM_SCREENSHOT_DIR="${PROJECT_BINARY_DIR}/screenshots")
# The look of the real main window under the application style sheet.
qm_add_test(tst_look LABEL ui WIDGETS SOURCES tst_look.cpp)
target_include_directories(tst_look PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
