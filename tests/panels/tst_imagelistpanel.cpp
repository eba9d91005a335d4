// The image list panel: row order and encoding, filters, labelled state,
// selection without signals, delete keys and the context menu.

#include "QmTest.h"

#include "model/Dataset.h"
#include "panels/ExactWidthDelegate.h"
#include "panels/FileListModel.h"
#include "panels/ImageListPanel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QIdentityProxyModel>
#include <QListView>
#include <QListWidget>
#include <QScrollBar>
#include <QMenu>
#include <QSet>
#include <QSignalSpy>

using namespace Quillmark;

namespace {

// Images 0..3 (1 and 3 labelled) and videos 0 and 1 (video 1 labelled).
Dataset sampleDataset()
{
    Dataset d;
    for (int i = 0; i < 4; ++i) {
        ImageEntry image;
        image.filePath = QStringLiteral("/data/set/img%1.jpg").arg(i);
        if (i % 2 == 1)
            image.labels.append(Annotation{});
        d.addImage(image);
    }
    for (int i = 0; i < 2; ++i) {
        VideoEntry video;
        video.filePath = QStringLiteral("/data/clips/clip%1.mp4").arg(i);
        video.frameCount = 250;
        video.fps = 29.97f;
        video.width = 1920;
        video.height = 1080;
        if (i == 1)
            video.frameLabels.insert(3, {Annotation{}});
        d.addVideo(video);
    }
    return d;
}

QList<int> rowValues(const QListView *list, bool visibleOnly = false)
{
    QList<int> values;
    const QAbstractItemModel *model = list->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        if (!visibleOnly || !list->isRowHidden(i))
            values.append(model->index(i, 0).data(Qt::UserRole).toInt());
    }
    return values;
}

QModelIndex rowWithValue(const QListView *list, int value)
{
    const QAbstractItemModel *model = list->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        if (model->index(i, 0).data(Qt::UserRole).toInt() == value)
            return model->index(i, 0);
    }
    return {};
}

QModelIndex rowAt(const QListView *list, int row)
{
    return list->model()->index(row, 0);
}

int rowCount(const QListView *list)
{
    return list->model()->rowCount();
}

int currentRow(const QListView *list)
{
    return list->currentIndex().row();
}

int currentValue(const QListView *list)
{
    return list->currentIndex().data(Qt::UserRole).toInt();
}

void setCurrentRow(QListView *list, int row)
{
    list->setCurrentIndex(rowAt(list, row));
}

void selectValue(QListView *list, int value)
{
    list->selectionModel()->select(rowWithValue(list, value), QItemSelectionModel::Select);
}

QImage iconImage(const QModelIndex &index, int size)
{
    return index.data(Qt::DecorationRole).value<QIcon>().pixmap(size, size).toImage();
}

void pressKey(QListView *list, Qt::Key key)
{
    QTest::keyClick(list, key);
}

// Counts what a view asks its delegate: sizes and painted rows.
class CountingDelegate : public ExactWidthDelegate {
public:
    using ExactWidthDelegate::ExactWidthDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        ++sized;
        return ExactWidthDelegate::sizeHint(option, index);
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        ++painted;
        paintedRows.insert(index.row());
        ExactWidthDelegate::paint(painter, option, index);
    }
    mutable int sized = 0;
    mutable int painted = 0;
    mutable QSet<int> paintedRows;
};

// Counts what a view asks of the model beneath it, by role.
class CountingProxy : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override
    {
        ++asked[role];
        return QIdentityProxyModel::data(index, role);
    }
    mutable QHash<int, int> asked;
};

Dataset manyImages(int count)
{
    Dataset d;
    d.images.reserve(count);
    for (int i = 0; i < count; ++i) {
        ImageEntry image;
        image.id = i;
        image.filePath = QStringLiteral("/data/large/frame_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        if (i % 3 == 0)
            image.labels.append(Annotation{});
        d.images.append(image);
    }
    return d;
}

} // namespace

class TestImageListPanel : public QObject {
    Q_OBJECT

private slots:
    void rowsAndEncoding();
    void filtersRebuildAndEmitOnce();
    void refreshKeepsOrResetsCurrent();
    void labeledStateInPlace();
    void selectionWithoutSignals();
    void sharedIdsFollowTheFirstRow();
    void deleteKeys();
    void contextMenuTargets();
    void exactWidthSizeHint();
    void clickOnCurrentRowChoosesItAgain();
    void largeListPaintsOnlyWhatItShows();
    void longestNameFarDownSetsTheWidth();
};

void TestImageListPanel::rowsAndEncoding()
{
    ImageListPanel panel;
    QVERIFY(!panel.statusGroup()->isEnabled());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    panel.setDataset(sampleDataset());
    QCOMPARE(selected.count(), 0);  // setting the dataset reports nothing
    QVERIFY(panel.statusGroup()->isEnabled());

    QListView *list = panel.listView();
    QCOMPARE(rowValues(list), (QList<int>{0, 1, 2, 3, -1, -2}));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("6"));
    QCOMPARE(rowAt(list, 0).data().toString(), QStringLiteral("img0.jpg"));
    QCOMPARE(rowAt(list, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("/data/set/img0.jpg"));
    QCOMPARE(rowAt(list, 4).data().toString(), QStringLiteral("clip0.mp4"));
    QCOMPARE(rowAt(list, 4).data(Qt::ToolTipRole).toString(), QStringLiteral("/data/clips/clip0.mp4\n250 frames  •  29.97 fps  •  1920×1080"));
    QCOMPARE(currentRow(list), 0);

    // The video with id 0 is reported as -1.
    setCurrentRow(list, 4);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), -1);

    // Icons: labelled and unlabelled rows differ.
    const QImage unlabelled = iconImage(rowAt(list, 0), 12);
    const QImage labelled = iconImage(rowAt(list, 1), 12);
    QCOMPARE(labelled.pixelColor(6, 6), QColor("#4caf50"));
    QCOMPARE(unlabelled.pixelColor(6, 6), QColor("#777777"));
    QCOMPARE(iconImage(rowAt(list, 5), 14).pixelColor(1, 7), QColor("#4d8dff"));

    panel.setDataset(Dataset());
    QVERIFY(!panel.statusGroup()->isEnabled());
    QCOMPARE(rowCount(list), 0);
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("0"));
}

void TestImageListPanel::filtersRebuildAndEmitOnce()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);

    panel.labeledFilter()->setChecked(false);
    QCOMPARE(rowValues(panel.listView()), (QList<int>{0, 2, -1}));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("3"));
    QCOMPARE(selected.count(), 1);

    panel.unlabeledFilter()->setChecked(false);
    QCOMPARE(rowCount(panel.listView()), 0);
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("0"));
    QCOMPARE(selected.count(), 1);  // nothing current, nothing reported

    panel.labeledFilter()->setChecked(true);
    QCOMPARE(rowValues(panel.listView()), (QList<int>{1, 3, -2}));
    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected.at(1).at(0).toInt(), 1);
}

void TestImageListPanel::refreshKeepsOrResetsCurrent()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    setCurrentRow(panel.listView(), 2);  // image 2, unlabelled
    selected.clear();

    panel.refresh(false);
    QCOMPARE(currentValue(panel.listView()), 2);
    QCOMPARE(selected.count(), 0);
    panel.refresh(true);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), 2);

    panel.unlabeledFilter()->setChecked(false);  // image 2 is filtered out
    QCOMPARE(currentRow(panel.listView()), 0);
    QCOMPARE(selected.last().at(0).toInt(), 1);
}

void TestImageListPanel::labeledStateInPlace()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    panel.labeledFilter()->setChecked(false);
    QListView *list = panel.listView();

    panel.setImageLabeled(2, true);  // shown row becomes labelled: hidden, not removed
    QCOMPARE(rowValues(list), (QList<int>{0, 2, -1}));
    QCOMPARE(rowValues(list, true), (QList<int>{0, -1}));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("3"));
    QCOMPARE(iconImage(rowWithValue(list, 2), 12).pixelColor(6, 6), QColor("#4caf50"));

    panel.setImageLabeled(1, false);  // filtered out: only the map changes
    QCOMPARE(rowValues(list), (QList<int>{0, 2, -1}));
    panel.refresh(false);
    QCOMPARE(rowValues(list), (QList<int>{0, 1, -1}));

    panel.setVideoLabeled(0, true);
    QVERIFY(list->isRowHidden(rowWithValue(list, -1).row()));
    panel.setImageLabeled(99, true);  // unknown: nothing happens
    QCOMPARE(rowCount(list), 3);
}

void TestImageListPanel::selectionWithoutSignals()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    panel.selectImage(3);
    QCOMPARE(currentValue(panel.listView()), 3);
    panel.selectVideo(1);
    QCOMPARE(currentValue(panel.listView()), -2);
    panel.selectImage(42);
    QCOMPARE(currentValue(panel.listView()), -2);
    QCOMPARE(selected.count(), 0);

    panel.setStatusText(QStringLiteral("Birds"));
    QVERIFY(!panel.titleLabel()->isHidden());
    QCOMPARE(panel.titleLabel()->text(), QStringLiteral("Birds"));
    panel.setStatusText(QString());
    QVERIFY(panel.titleLabel()->isHidden());

    QListView *list = panel.listView();
    list->clearSelection();
    for (int value : {2, -1, 0})
        selectValue(list, value);
    QCOMPARE(panel.selectedImageIds(), (QList<int>{2, 0}));
}

void TestImageListPanel::sharedIdsFollowTheFirstRow()
{
    // Two entries with id 7 (a hand-edited or merged file): the dataset finds
    // the first, and the list highlights and updates that row.
    Dataset d;
    for (const char *name : {"first.jpg", "second.jpg", "other.jpg"}) {
        ImageEntry image;
        image.id = QByteArray(name) == "other.jpg" ? 8 : 7;
        image.filePath = QString::fromLatin1(name);
        d.addImage(image);
    }
    QCOMPARE(d.images.size(), 3);
    ImageListPanel panel;
    panel.setDataset(d);
    QListView *list = panel.listView();
    panel.selectImage(8);
    panel.selectImage(7);
    QCOMPARE(currentRow(list), 0);

    const QImage unlabeled = iconImage(rowAt(list, 1), 12);
    panel.setImageLabeled(7, true);
    QVERIFY(iconImage(rowAt(list, 0), 12) != unlabeled);
    QCOMPARE(iconImage(rowAt(list, 1), 12), unlabeled);

    // A rebuild keeps the first of the two current, also when the second was.
    setCurrentRow(list, 1);
    panel.refresh(false);
    QCOMPARE(currentRow(list), 0);
}

void TestImageListPanel::deleteKeys()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QListView *list = panel.listView();
    QStringList log;
    connect(&panel, &ImageListPanel::deleteImagesRequested, this, [&log](const QList<int> &ids) {
        log.append(QStringLiteral("images"));
        QCOMPARE(ids, (QList<int>{3, 1}));
    });
    connect(&panel, &ImageListPanel::deleteVideosRequested, this, [&log](const QList<int> &ids) {
        log.append(QStringLiteral("videos"));
        QCOMPARE(ids, (QList<int>{0}));
    });

    list->clearSelection();
    for (int value : {-1, 3, 1})
        selectValue(list, value);
    pressKey(list, Qt::Key_Delete);
    QCOMPARE(log, (QStringList{"images", "videos"}));

    // Nothing selected: the key is consumed and nothing is asked.
    list->clearSelection();
    log.clear();
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::ShiftModifier);
    QVERIFY(static_cast<QObject &>(panel).eventFilter(list, &backspace));
    QVERIFY(log.isEmpty());
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QVERIFY(!static_cast<QObject &>(panel).eventFilter(list, &other));
}

void TestImageListPanel::contextMenuTargets()
{
    ImageListPanel panel;
    panel.resize(270, 600);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.setDataset(sampleDataset());
    QListView *list = panel.listView();
    QTRY_VERIFY(list->visualRect(rowAt(list, 5)).isValid());
    auto centreOf = [list](int value) { return list->visualRect(rowWithValue(list, value)).center(); };
    QSignalSpy images(&panel, &ImageListPanel::deleteImagesRequested);
    QSignalSpy videos(&panel, &ImageListPanel::deleteVideosRequested);

    QVERIFY(!panel.createContextMenu(QPoint(5, 2000)));

    // Three images and a video selected; right-click on an image inside it.
    list->clearSelection();
    for (int value : {0, 2, 3, -2})
        selectValue(list, value);
    std::unique_ptr<QMenu> menu(panel.createContextMenu(centreOf(2)));
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Remove 3 Images from Project"));
    menu->actions().first()->trigger();
    QCOMPARE(images.count(), 1);
    QCOMPARE(images.at(0).at(0).value<QList<int>>().size(), 3);

    // On the selected video: only the videos of the selection.
    menu.reset(panel.createContextMenu(centreOf(-2)));
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Remove Video from Project"));
    menu->actions().first()->trigger();
    QCOMPARE(videos.at(0).at(0).value<QList<int>>(), QList<int>{1});

    // On an unselected row: that row alone.
    menu.reset(panel.createContextMenu(centreOf(1)));
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Remove Image from Project"));
    menu->actions().first()->trigger();
    QCOMPARE(images.at(1).at(0).value<QList<int>>(), QList<int>{1});

    list->clearSelection();
    selectValue(list, -1);
    selectValue(list, -2);
    menu.reset(panel.createContextMenu(centreOf(-1)));
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Remove 2 Videos from Project"));
}

void TestImageListPanel::exactWidthSizeHint()
{
    QListWidget list;
    list.setIconSize(QSize(14, 14));
    auto *delegate = new ExactWidthDelegate(&list);
    list.setItemDelegate(delegate);
    const QString longName = QStringLiteral("a-very-long-file-name-that-is-wider-than-the-panel-itself-%1.jpg")
                                 .arg(QString(40, QLatin1Char('x')));
    list.addItem(new QListWidgetItem(QIcon(QPixmap(14, 14)), longName));
    QStyleOptionViewItem option;
    option.initFrom(&list);
    option.decorationSize = QSize(14, 14);
    const QSize hint = delegate->sizeHint(option, list.model()->index(0, 0));
    QCOMPARE(hint.width(), option.fontMetrics.horizontalAdvance(longName) + 14 + 14);
    QVERIFY(hint.width() > 270);
}

void TestImageListPanel::clickOnCurrentRowChoosesItAgain()
{
    // A project of videos only, reopened: the first row is made current
    // without a signal, so a click on it must still choose it.
    Dataset d = sampleDataset();
    d.images.clear();
    ImageListPanel panel;
    panel.resize(270, 400);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.setDataset(d);
    panel.selectVideo(0);
    QListView *list = panel.listView();
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    QTRY_VERIFY(list->visualRect(rowAt(list, 1)).isValid());

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(rowAt(list, 0)).center());
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), -1);

    // Another row: chosen once, not once for the move and once for the click.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(rowAt(list, 1)).center());
    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected.at(1).at(0).toInt(), -2);

    // A press that began elsewhere and a programmatic move say nothing extra.
    panel.selectVideo(0);
    QCOMPARE(selected.count(), 2);
}

void TestImageListPanel::largeListPaintsOnlyWhatItShows()
{
    ImageListPanel panel;
    auto *delegate = new CountingDelegate(panel.listView());
    panel.listView()->setItemDelegate(delegate);
    panel.resize(270, 600);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    panel.setDataset(manyImages(20000));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("20000"));
    QTRY_VERIFY(delegate->painted > 0);
    QListView *list = panel.listView();
    const int visibleRows = list->viewport()->height() / qMax(1, list->visualRect(rowAt(list, 0)).height()) + 2;
    // One size for every row, and only the rows in view painted: no pass over
    // twenty thousand rows to lay them out.
    QVERIFY2(delegate->sized <= 8, qPrintable(QString::number(delegate->sized)));
    QVERIFY2(delegate->paintedRows.size() <= visibleRows,
             qPrintable(QStringLiteral("%1 > %2").arg(delegate->paintedRows.size()).arg(visibleRows)));
    QVERIFY(delegate->paintedRows.contains(0));

    // The end of the list is one key away and paints at once too.
    delegate->paintedRows.clear();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(currentValue(list), 19999);
    QTRY_VERIFY(delegate->paintedRows.contains(19999));
    QVERIFY(delegate->sized <= 8);

    // Filtering keeps the same discipline.
    panel.unlabeledFilter()->setChecked(false);
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("6667"));
    QCOMPARE(currentValue(list), 0);
}

void TestImageListPanel::longestNameFarDownSetsTheWidth()
{
    Dataset d = manyImages(20000);
    const QString longName = QStringLiteral("W%1.jpg").arg(QString(120, QLatin1Char('M')));
    d.images[19990].filePath = QStringLiteral("/elsewhere/") + longName;
    ImageListPanel panel;
    panel.resize(270, 600);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.setDataset(d);
    QListView *list = panel.listView();
    QTRY_VERIFY(list->horizontalScrollBar()->maximum() > 0);
    const int rowWidth = list->visualRect(rowAt(list, 0)).width();
    QVERIFY2(rowWidth >= list->fontMetrics().horizontalAdvance(longName) + list->iconSize().width(),
             qPrintable(QString::number(rowWidth)));
}

QM_TEST_MAIN(TestImageListPanel)
#include "tst_imagelistpanel.moc"
