# The import commands: dataset import with format detection and chooser,
# images and packages.
qm_add_test(tst_importcommands LABEL ui WIDGETS TIMEOUT 600
            SOURCES tst_importcommands.cpp AppTestSupport.h MainWindowTestAccess.h import_fixtures.py)
target_include_directories(tst_importcommands PRIVATE "${PROJECT_SOURCE_DIR}/tests/formats")
