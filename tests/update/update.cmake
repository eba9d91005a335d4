# The update check against local manifests, and the banner it leads to.
qm_add_test(tst_updatechecker LABEL ui SOURCES tst_updatechecker.cpp ManifestServer.h)
qm_add_test(tst_updatebanner LABEL ui WIDGETS SOURCES tst_updatebanner.cpp ManifestServer.h)
