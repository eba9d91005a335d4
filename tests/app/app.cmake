# The main window: shell, start-up, and the project commands.
qm_add_test(tst_mainwindow LABEL ui WIDGETS SOURCES tst_mainwindow.cpp AppTestSupport.h MainWindowTestAccess.h)
qm_add_test(tst_startup LABEL ui WIDGETS SOURCES tst_startup.cpp)
qm_add_test(tst_projectcommands LABEL ui WIDGETS SOURCES tst_projectcommands.cpp AppTestSupport.h
            MainWindowTestAccess.h)
