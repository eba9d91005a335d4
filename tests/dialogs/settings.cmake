# The settings dialog, its stores and the main window's settings command.
qm_add_test(tst_settingsdialog LABEL ui WIDGETS SOURCES tst_settingsdialog.cpp)
