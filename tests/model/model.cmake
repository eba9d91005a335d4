qm_add_test(tst_dataset LABEL model SOURCES tst_dataset.cpp)
qm_add_test(tst_projectfile LABEL model SOURCES tst_projectfile.cpp)
qm_add_test(tst_projecttypetable LABEL model SOURCES tst_projecttypetable.cpp)
qm_add_test(tst_regularfile LABEL model SOURCES tst_regularfile.cpp)
