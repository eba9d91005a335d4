// The image list panel: row order and encoding, filters, labelled state,
// selection without signals, delete keys and the context menu.

#include "QmTest.h"

#include "model/Dataset.h"
#include "panels/ExactWidthDelegate.h"
#include "panels/ImageListPanel.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
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

QList<int> rowValues(const QListWidget *list, bool visibleOnly = false)
{
    QList<int> values;
    for (int i = 0; i < list->count(); ++i) {
        if (!visibleOnly || !list->item(i)->isHidden())
            values.append(list->item(i)->data(Qt::UserRole).toInt());
    }
    return values;
}

QListWidgetItem *rowWithValue(const QListWidget *list, int value)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->data(Qt::UserRole).toInt() == value)
            return list->item(i);
    }
    return nullptr;
}

void pressKey(QListWidget *list, Qt::Key key)
{
    QTest::keyClick(list, key);
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
};

void TestImageListPanel::rowsAndEncoding()
{
    ImageListPanel panel;
    QVERIFY(!panel.statusGroup()->isEnabled());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    panel.setDataset(sampleDataset());
    QCOMPARE(selected.count(), 0);  // setting the dataset reports nothing
    QVERIFY(panel.statusGroup()->isEnabled());

    QListWidget *list = panel.listWidget();
    QCOMPARE(rowValues(list), (QList<int>{0, 1, 2, 3, -1, -2}));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("6"));
    QCOMPARE(list->item(0)->text(), QStringLiteral("img0.jpg"));
    QCOMPARE(list->item(0)->toolTip(), QStringLiteral("/data/set/img0.jpg"));
    QCOMPARE(list->item(4)->text(), QStringLiteral("clip0.mp4"));
    QCOMPARE(list->item(4)->toolTip(), QStringLiteral("/data/clips/clip0.mp4\n250 frames  •  29.97 fps  •  1920×1080"));
    QCOMPARE(list->currentRow(), 0);

    // The video with id 0 is reported as -1.
    list->setCurrentRow(4);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), -1);

    // Icons: labelled and unlabelled rows differ.
    const QImage unlabelled = list->item(0)->icon().pixmap(12, 12).toImage();
    const QImage labelled = list->item(1)->icon().pixmap(12, 12).toImage();
    QCOMPARE(labelled.pixelColor(6, 6), QColor("#4caf50"));
    QCOMPARE(unlabelled.pixelColor(6, 6), QColor("#777777"));
    QCOMPARE(list->item(5)->icon().pixmap(14, 14).toImage().pixelColor(1, 7), QColor("#4d8dff"));

    panel.setDataset(Dataset());
    QVERIFY(!panel.statusGroup()->isEnabled());
    QCOMPARE(list->count(), 0);
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("0"));
}

void TestImageListPanel::filtersRebuildAndEmitOnce()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);

    panel.labeledFilter()->setChecked(false);
    QCOMPARE(rowValues(panel.listWidget()), (QList<int>{0, 2, -1}));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("3"));
    QCOMPARE(selected.count(), 1);

    panel.unlabeledFilter()->setChecked(false);
    QCOMPARE(panel.listWidget()->count(), 0);
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("0"));
    QCOMPARE(selected.count(), 1);  // nothing current, nothing reported

    panel.labeledFilter()->setChecked(true);
    QCOMPARE(rowValues(panel.listWidget()), (QList<int>{1, 3, -2}));
    QCOMPARE(selected.count(), 2);
    QCOMPARE(selected.at(1).at(0).toInt(), 1);
}

void TestImageListPanel::refreshKeepsOrResetsCurrent()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    panel.listWidget()->setCurrentRow(2);  // image 2, unlabelled
    selected.clear();

    panel.refresh(false);
    QCOMPARE(panel.listWidget()->currentItem()->data(Qt::UserRole).toInt(), 2);
    QCOMPARE(selected.count(), 0);
    panel.refresh(true);
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.at(0).at(0).toInt(), 2);

    panel.unlabeledFilter()->setChecked(false);  // image 2 is filtered out
    QCOMPARE(panel.listWidget()->currentRow(), 0);
    QCOMPARE(selected.last().at(0).toInt(), 1);
}

void TestImageListPanel::labeledStateInPlace()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    panel.labeledFilter()->setChecked(false);
    QListWidget *list = panel.listWidget();

    panel.setImageLabeled(2, true);  // shown row becomes labelled: hidden, not removed
    QCOMPARE(rowValues(list), (QList<int>{0, 2, -1}));
    QCOMPARE(rowValues(list, true), (QList<int>{0, -1}));
    QCOMPARE(panel.countLabel()->text(), QStringLiteral("3"));
    QCOMPARE(rowWithValue(list, 2)->icon().pixmap(12, 12).toImage().pixelColor(6, 6), QColor("#4caf50"));

    panel.setImageLabeled(1, false);  // filtered out: only the map changes
    QCOMPARE(rowValues(list), (QList<int>{0, 2, -1}));
    panel.refresh(false);
    QCOMPARE(rowValues(list), (QList<int>{0, 1, -1}));

    panel.setVideoLabeled(0, true);
    QVERIFY(rowWithValue(list, -1)->isHidden());
    panel.setImageLabeled(99, true);  // unknown: nothing happens
    QCOMPARE(list->count(), 3);
}

void TestImageListPanel::selectionWithoutSignals()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QSignalSpy selected(&panel, &ImageListPanel::imageSelected);
    panel.selectImage(3);
    QCOMPARE(panel.listWidget()->currentItem()->data(Qt::UserRole).toInt(), 3);
    panel.selectVideo(1);
    QCOMPARE(panel.listWidget()->currentItem()->data(Qt::UserRole).toInt(), -2);
    panel.selectImage(42);
    QCOMPARE(panel.listWidget()->currentItem()->data(Qt::UserRole).toInt(), -2);
    QCOMPARE(selected.count(), 0);

    panel.setStatusText(QStringLiteral("Birds"));
    QVERIFY(!panel.titleLabel()->isHidden());
    QCOMPARE(panel.titleLabel()->text(), QStringLiteral("Birds"));
    panel.setStatusText(QString());
    QVERIFY(panel.titleLabel()->isHidden());

    QListWidget *list = panel.listWidget();
    list->clearSelection();
    for (int value : {2, -1, 0})
        rowWithValue(list, value)->setSelected(true);
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
    QListWidget *list = panel.listWidget();
    panel.selectImage(8);
    panel.selectImage(7);
    QCOMPARE(list->currentRow(), 0);

    const QImage unlabeled = list->item(1)->icon().pixmap(12, 12).toImage();
    panel.setImageLabeled(7, true);
    QVERIFY(list->item(0)->icon().pixmap(12, 12).toImage() != unlabeled);
    QCOMPARE(list->item(1)->icon().pixmap(12, 12).toImage(), unlabeled);

    // A rebuild keeps the first of the two current, also when the second was.
    list->setCurrentRow(1);
    panel.refresh(false);
    QCOMPARE(list->currentRow(), 0);
}

void TestImageListPanel::deleteKeys()
{
    ImageListPanel panel;
    panel.setDataset(sampleDataset());
    QListWidget *list = panel.listWidget();
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
        rowWithValue(list, value)->setSelected(true);
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
    QListWidget *list = panel.listWidget();
    QTRY_VERIFY(list->visualItemRect(list->item(5)).isValid());
    auto centreOf = [list](int value) { return list->visualItemRect(rowWithValue(list, value)).center(); };
    QSignalSpy images(&panel, &ImageListPanel::deleteImagesRequested);
    QSignalSpy videos(&panel, &ImageListPanel::deleteVideosRequested);

    QVERIFY(!panel.createContextMenu(QPoint(5, 2000)));

    // Three images and a video selected; right-click on an image inside it.
    list->clearSelection();
    for (int value : {0, 2, 3, -2})
        rowWithValue(list, value)->setSelected(true);
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
    rowWithValue(list, -1)->setSelected(true);
    rowWithValue(list, -2)->setSelected(true);
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

QM_TEST_MAIN(TestImageListPanel)
#include "tst_imagelistpanel.moc"
