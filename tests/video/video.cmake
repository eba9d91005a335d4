# The video decoder on files made by ffmpeg, and the main window's video mode.
qm_add_test(tst_videodecoder LABEL video SOURCES tst_videodecoder.cpp VideoFixtures.h)
