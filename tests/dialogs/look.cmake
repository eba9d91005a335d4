qm_add_test(tst_lookdialogs LABEL ui WIDGETS SOURCES tst_lookdialogs.cpp)
