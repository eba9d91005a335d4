#include "QmTest.h"
class TestPlaceholder : public QObject {
    Q_OBJECT
};
QM_TEST_MAIN(TestPlaceholder)
#include "tst_cliphandler.moc"
