#include "QmTest.h"
class T : public QObject { Q_OBJECT };
QM_TEST_MAIN(T)
#include "tst_imagelistpanel.moc"
