qm_add_test(tst_wizardflow LABEL ui WIDGETS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_wizardflow.cpp ${CMAKE_CURRENT_LIST_DIR}/WizardDriver.h)
qm_add_test(tst_wizardpages LABEL ui WIDGETS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_wizardpages.cpp ${CMAKE_CURRENT_LIST_DIR}/WizardDriver.h)
