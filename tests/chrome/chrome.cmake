# Theme, icons, bars, and the screenshot sheet of every bar and panel.
qm_add_test(tst_theme_icons LABEL ui WIDGETS SOURCES tst_theme_icons.cpp)
qm_add_test(tst_bars LABEL ui WIDGETS SOURCES tst_bars.cpp)
qm_add_test(tst_screenshots LABEL ui WIDGETS SOURCES tst_screenshots.cpp)
target_compile_definitions(tst_screenshots PRIVATE
  QM_SCREENSHOT_DIR="${PROJECT_BINARY_DIR}/screenshots")
