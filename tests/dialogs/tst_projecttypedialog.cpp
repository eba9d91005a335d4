#include "QmTest.h"

#include "dialogs/ProjectTypeDialog.h"
#include "model/ProjectTypeTable.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QPushButton>

using namespace Quillmark;

namespace {

QList<QAbstractButton *> cards(QDialog &dialog)
{
    QList<QAbstractButton *> found;
    for (QAbstractButton *button : dialog.findChildren<QAbstractButton *>()) {
        if (button->isCheckable())
            found << button;
    }
    return found;
}

QPushButton *okButton(QDialog &dialog)
{
    return dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
}

} // namespace

class TestProjectTypeDialog : public QObject {
    Q_OBJECT
private slots:
    void initialSelection_data();
    void initialSelection();
    void clickingACardChoosesItsType();
    void cancelRejects();
    void cardsKeepTheirHeightAndStretch();
    void checkedCardShowsItsAccentBar();
    void hoverChangesOnlyUncheckedCards();
    void keysChooseACardWithItsFocusShown_data();
    void keysChooseACardWithItsFocusShown();
};

void TestProjectTypeDialog::initialSelection_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<int>("checkedIndex");
    QTest::newRow("pose") << "pose" << 2;
    QTest::newRow("classification") << "classification" << 4;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("semantic segmentation has no card") << "semantic_segmentation" << -1;
}

void TestProjectTypeDialog::initialSelection()
{
    QFETCH(QString, current);
    QFETCH(int, checkedIndex);
    ProjectTypeDialog dialog(current, 0);
    const auto all = cards(dialog);
    QCOMPARE(all.size(), 5);
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(all[i]->isChecked(), i == checkedIndex);
    QCOMPARE(okButton(dialog)->isEnabled(), checkedIndex >= 0);
    QCOMPARE(dialog.selectedType(), checkedIndex >= 0 ? current : QString());
}

void TestProjectTypeDialog::clickingACardChoosesItsType()
{
    ProjectTypeDialog dialog(QString(), 1);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!okButton(dialog)->isEnabled());
    QTest::mouseClick(cards(dialog).at(1), Qt::LeftButton);
    QVERIFY(okButton(dialog)->isEnabled());
    QCOMPARE(dialog.selectedType(), QStringLiteral("segmentation"));
    QTest::mouseClick(cards(dialog).at(3), Qt::LeftButton);
    QCOMPARE(dialog.selectedType(), QStringLiteral("face"));
    QVERIFY(!cards(dialog).at(1)->isChecked());
    QTest::mouseClick(okButton(dialog), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestProjectTypeDialog::cancelRejects()
{
    ProjectTypeDialog dialog("pose", 0);
    dialog.show();
    QTest::mouseClick(dialog.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestProjectTypeDialog::cardsKeepTheirHeightAndStretch()
{
    ProjectTypeDialog dialog("pose", 0);
    dialog.resize(464, 900);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.width(), 464);
    for (QAbstractButton *card : cards(dialog)) {
        QCOMPARE(card->height(), 76);
        QCOMPARE(card->width(), 464 - 40);
    }
}

void TestProjectTypeDialog::checkedCardShowsItsAccentBar()
{
    ProjectTypeDialog dialog("face", 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto all = cards(dialog);
    const QImage checked = all.at(3)->grab().toImage();
    const QImage unchecked = all.at(0)->grab().toImage();
    // The bar runs at x 1.5..5.5 from y 16 to 60 in the accent colour.
    QCOMPARE(checked.pixelColor(3, 38).rgb(), projectTypeTable[3].color.rgb());
    QVERIFY(unchecked.pixelColor(3, 38).rgb() != projectTypeTable[0].color.rgb());
    // The icon tile is the full accent when checked.
    QCOMPARE(checked.pixelColor(18, 38).rgb(), projectTypeTable[3].color.rgb());
}

void TestProjectTypeDialog::hoverChangesOnlyUncheckedCards()
{
    ProjectTypeDialog dialog("face", 0);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const auto all = cards(dialog);
    // A point of the card body away from the tile, the texts and the focus mark.
    const QPoint body(all.at(0)->width() - 20, 66);
    const auto bodyColor = [&body](QAbstractButton *card) { return card->grab().toImage().pixelColor(body); };

    QTest::mouseMove(&dialog, dialog.mapFromGlobal(all.at(4)->mapToGlobal(QPoint(300, 38))));
    QTRY_VERIFY(all.at(4)->underMouse());
    const QColor idle = bodyColor(all.at(0));
    const QColor checkedIdle = bodyColor(all.at(3));

    QTest::mouseMove(&dialog, dialog.mapFromGlobal(all.at(0)->mapToGlobal(QPoint(300, 38))));
    QTRY_VERIFY(all.at(0)->underMouse());
    QVERIFY(bodyColor(all.at(0)) != idle);
    QTest::mouseMove(&dialog, dialog.mapFromGlobal(all.at(3)->mapToGlobal(QPoint(300, 38))));
    QTRY_VERIFY(all.at(3)->underMouse());
    QCOMPARE(bodyColor(all.at(0)), idle);
    QCOMPARE(bodyColor(all.at(3)), checkedIdle);
}

void TestProjectTypeDialog::keysChooseACardWithItsFocusShown_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("light") << 0;
    QTest::newRow("dark") << 1;
}

// A keyboard user sees which card has the focus, apart from the chosen one,
// moves with the arrows and chooses with Space.
void TestProjectTypeDialog::keysChooseACardWithItsFocusShown()
{
    QFETCH(int, mode);
    ProjectTypeDialog dialog("face", mode);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    const auto all = cards(dialog);
    okButton(dialog)->setFocus();
    QTRY_VERIFY(!all.at(0)->hasFocus());
    const QImage plain = all.at(0)->grab().toImage();
    const QImage chosen = all.at(3)->grab().toImage();
    all.at(0)->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(all.at(0)->hasFocus());
    const QImage focused = all.at(0)->grab().toImage();
    QVERIFY(focused != plain);
    all.at(3)->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(all.at(3)->hasFocus());
    QVERIFY(all.at(3)->grab().toImage() != chosen);

    QTest::keyClick(all.at(3), Qt::Key_Up);
    QTRY_VERIFY(all.at(2)->hasFocus());
    QTest::keyClick(all.at(2), Qt::Key_Space);
    QVERIFY(all.at(2)->isChecked());
    QCOMPARE(dialog.selectedType(), projectTypeTable[2].key);
}

QM_TEST_MAIN(TestProjectTypeDialog)
#include "tst_projecttypedialog.moc"
