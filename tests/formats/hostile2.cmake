# Hostile inputs, second round: exports that carry only pictures, bounded
# lines and cells, open quotes, XML objects inside open elements; and the
# package's temporary files and refused media.
qm_add_test(tst_hostileinputs2 LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_hostileinputs2.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h)
qm_add_test(tst_qpkgtemporaries LABEL package SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qpkgtemporaries.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h LIBS Qt6::Sql)
