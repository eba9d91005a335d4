# The JSON-based dataset formats and the caption layout: LabelMe, CreateML,
# Florence-2, PaliGemma and CLIP.
qm_add_test(tst_labelmehandler LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_labelmehandler.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h)
qm_add_test(tst_createmlhandler LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_createmlhandler.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h)
qm_add_test(tst_tokenformats LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_tokenformats.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h)
qm_add_test(tst_cliphandler LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_cliphandler.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h)
