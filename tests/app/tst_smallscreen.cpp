// The main window on a screen smaller than its usual size: it is frameless,
// so whatever lies beyond the screen's edge (its own buttons included) could
// not be reached at all.

#include "AppTestSupport.h"
#include "QmTest.h"

#include "chrome/TopBar.h"
#include "panels/AnnotationPanel.h"

#include <QPushButton>
#include <QScreen>

using namespace Quillmark;
using namespace AppTest;

class TestSmallScreen : public QObject {
    Q_OBJECT

private slots:
    void windowFitsTheScreen();
};

void TestSmallScreen::windowFitsTheScreen()
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(available.size(), QSize(1280, 720));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY2(available.contains(window.frameGeometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(window.x())
                            .arg(window.y())
                            .arg(window.width())
                            .arg(window.height())));
    QVERIFY(window.minimumWidth() <= available.width());
    QVERIFY(window.minimumHeight() <= available.height());
    // The parts a user must reach: the close button, the right panel, the
    // status bar.
    for (QWidget *part : {static_cast<QWidget *>(window.topBarWidget()->closeButton()),
                          static_cast<QWidget *>(window.annotations()), static_cast<QWidget *>(window.statusBar())}) {
        QVERIFY(part->isVisible());
        const QRect onScreen(part->mapToGlobal(QPoint(0, 0)), part->size());
        QVERIFY2(available.contains(onScreen), part->metaObject()->className());
    }
}

int main(int argc, char *argv[])
{
    QmTest::prepareEnvironment(QSize(1280, 720));
    QApplication app(argc, argv);
    TestSmallScreen test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_smallscreen.moc"
