// A project of 20,000 images opened in the main window: the Files list shows
// its rows, all of them counted, with one size for every row and only the rows
// in view painted: no second pass over the data to lay the list out.

#include "QmTest.h"
#include "ScriptedPrompts.h"

#include "app/MainWindow.h"
#include "model/ProjectFile.h"
#include "panels/ExactWidthDelegate.h"
#include "panels/ImageListPanel.h"

#include <QLabel>
#include <QListView>
#include <QSet>
#include <QTemporaryDir>

using namespace Quillmark;

namespace {

class CountingDelegate : public ExactWidthDelegate {
public:
    using ExactWidthDelegate::ExactWidthDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        ++sized;
        sizedRows.insert(index.row());
        return ExactWidthDelegate::sizeHint(option, index);
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        paintedRows.insert(index.row());
        ExactWidthDelegate::paint(painter, option, index);
    }
    mutable int sized = 0;
    mutable QSet<int> sizedRows;
    mutable QSet<int> paintedRows;
};

} // namespace

class TestOpenLargeProject : public QObject {
    Q_OBJECT

private slots:
    void listShowsRowsAtOnce();
};

void TestOpenLargeProject::listShowsRowsAtOnce()
{
    QTemporaryDir dir;
    Project project;
    project.name = QStringLiteral("Large");
    project.projectType = QStringLiteral("object_detection");
    for (int i = 0; i < 20000; ++i) {
        ImageEntry image;
        // Five-digit names, none of them on disk.
        image.filePath = dir.filePath(QStringLiteral("images/img_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        image.width = 641;
        image.height = 479;
        if (i % 2 == 0) {
            Annotation box;
            box.className = QStringLiteral("car");
            box.bbox = QRectF(1, 2, 30, 40);
            image.labels.append(box);
        }
        project.dataset.addImage(image);
    }
    const QString path = dir.filePath(QStringLiteral("large.qmk"));
    QVERIFY(saveProjectFile(project, path));

    QmTest::ScriptedPrompts prompts;
    Prompts::setOverride(&prompts);
    MainWindow window;
    window.resize(1280, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QListView *list = window.imageList()->listView();
    auto *delegate = new CountingDelegate(list);
    list->setItemDelegate(delegate);

    prompts.answers.enqueue(path);
    window.onOpenProject();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isJobRunning(), QmTest::patienceMs);
    QCOMPARE(window.imageList()->countLabel()->text(), QStringLiteral("20000"));
    QTRY_VERIFY(delegate->paintedRows.contains(0));
    QCOMPARE(list->model()->rowCount(), 20000);
    // One row is measured for all of them, once for each pass of the layout;
    // how many passes the window makes depends on how its events fall
    // together, but a pass over the rows would be 20,000 queries.
    QVERIFY2(delegate->sizedRows.size() <= 2, qPrintable(QString::number(delegate->sizedRows.size())));
    QVERIFY2(delegate->sized <= 64, qPrintable(QString::number(delegate->sized)));
    const int rowHeight = qMax(1, list->visualRect(list->model()->index(0, 0)).height());
    QVERIFY2(delegate->paintedRows.size() <= list->viewport()->height() / rowHeight + 2,
             qPrintable(QString::number(delegate->paintedRows.size())));
    // The missing pictures are found afterwards, and the rows say so.
    QTRY_VERIFY_WITH_TIMEOUT(list->model()->index(19999, 0).data(Qt::FontRole).value<QFont>().italic(), QmTest::patienceMs);
    Prompts::setOverride(nullptr);
}

QM_TEST_MAIN(TestOpenLargeProject)
#include "tst_openlargeproject.moc"
