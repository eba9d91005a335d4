# A failed import tells the reader's reason: the file and what is wrong with it.
qm_add_test(tst_importfailure LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_importfailure.cpp)
