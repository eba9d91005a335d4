qm_add_test(tst_annotationpanel LABEL ui WIDGETS SOURCES tst_annotationpanel.cpp)
qm_add_test(tst_imagelistpanel LABEL ui WIDGETS SOURCES tst_imagelistpanel.cpp)
qm_add_test(tst_filmstrip LABEL ui WIDGETS SOURCES tst_filmstrip.cpp)
qm_add_test(tst_videoscrubber LABEL ui WIDGETS SOURCES tst_videoscrubber.cpp)
