qm_add_test(tst_qpkg_wkt LABEL package SOURCES tst_qpkg_wkt.cpp)
qm_add_test(tst_qpkg LABEL package SOURCES tst_qpkg.cpp)
