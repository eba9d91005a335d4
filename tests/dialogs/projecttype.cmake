qm_add_test(tst_projecttypedialog LABEL ui WIDGETS SOURCES tst_projecttypedialog.cpp)
