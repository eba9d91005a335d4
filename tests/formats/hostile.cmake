# Hostile files: special files, huge and deep files, long line lists, numbers
# beyond single precision and unnameable files, each case run in a child
# process under a time, memory and read bound (tests/common/BoundedRun.h).
qm_add_test(tst_hostilefiles LABEL formats SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_hostilefiles.cpp
            ${CMAKE_CURRENT_LIST_DIR}/FormatTestSupport.h)
qm_add_test(tst_qpkghostile LABEL package SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_qpkghostile.cpp)

# The package test once more, with the package's reader and writer and the
# toolkit they use compiled under AddressSanitizer, so that a read past the end
# of a value of a crafted file fails the run instead of going unnoticed.
set(_qm_package_sources
  formats/QpkgConnection.cpp formats/QpkgHandler.cpp formats/QpkgReader.cpp formats/QpkgWriter.cpp
  formats/QpkgImageBytes.cpp formats/QpkgTemporaryFile.cpp formats/ImageProbe.cpp formats/VideoSignature.cpp formats/SqliteReadGuard.cpp formats/WktGeometry.cpp formats/SafeRead.cpp formats/ImportFailure.cpp
  formats/SafeWrite.cpp formats/ExportJournal.cpp model/RegularFile.cpp model/Dataset.cpp model/ImageEntry.cpp model/VideoEntry.cpp model/PictureLoader.cpp
  model/PathInFolder.cpp)
list(TRANSFORM _qm_package_sources PREPEND "${PROJECT_SOURCE_DIR}/src/")
add_executable(tst_qpkghostile_asan ${CMAKE_CURRENT_LIST_DIR}/tst_qpkghostile.cpp ${_qm_package_sources})
target_include_directories(tst_qpkghostile_asan PRIVATE
  "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests/common")
target_link_libraries(tst_qpkghostile_asan PRIVATE Qt6::Core Qt6::Gui Qt6::Sql Qt6::Test SQLite::SQLite3)
target_compile_options(tst_qpkghostile_asan PRIVATE -fsanitize=address -fno-omit-frame-pointer)
target_link_options(tst_qpkghostile_asan PRIVATE -fsanitize=address)
add_test(NAME tst_qpkghostile_asan COMMAND tst_qpkghostile_asan)
set_tests_properties(tst_qpkghostile_asan PROPERTIES
  LABELS "package"
  TIMEOUT 300
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1:max_allocation_size_mb=512:quarantine_size_mb=32;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/ai/lsan.supp")
