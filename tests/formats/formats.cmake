# Dataset formats: the handlers, the registry, the export job and their toolkit.
set(_fmt "${CMAKE_CURRENT_SOURCE_DIR}")
qm_add_test(tst_formattoolkit LABEL formats SOURCES ${_fmt}/tst_formattoolkit.cpp ${_fmt}/FormatTestSupport.h)
qm_add_test(tst_yololines LABEL formats SOURCES ${_fmt}/tst_yololines.cpp ${_fmt}/FormatTestSupport.h)
qm_add_test(tst_yolohandler LABEL formats SOURCES ${_fmt}/tst_yolohandler.cpp ${_fmt}/FormatTestSupport.h)
qm_add_test(tst_cocohandler LABEL formats SOURCES ${_fmt}/tst_cocohandler.cpp ${_fmt}/FormatTestSupport.h)
qm_add_test(tst_vochandler LABEL formats SOURCES ${_fmt}/tst_vochandler.cpp ${_fmt}/FormatTestSupport.h)
qm_add_test(tst_cvathandler LABEL formats SOURCES ${_fmt}/tst_cvathandler.cpp ${_fmt}/FormatTestSupport.h)
