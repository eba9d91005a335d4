# The video decoder on files made by ffmpeg, and the main window's video mode.
qm_add_test(tst_videodecoder LABEL video SOURCES tst_videodecoder.cpp VideoFixtures.h)
qm_add_test(tst_videomode LABEL video WIDGETS SOURCES tst_videomode.cpp VideoFixtures.h)
target_include_directories(tst_videomode PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")
