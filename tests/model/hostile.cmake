# Project files that are special files or hold numbers beyond single
# precision, each read run in a child process under a time and memory bound.
qm_add_test(tst_projectfilehostile LABEL model SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_projectfilehostile.cpp)
