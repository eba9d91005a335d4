#include "QmTest.h"

#include "model/ProjectTypeTable.h"

using namespace Quillmark;

class TestProjectTypeTable : public QObject {
    Q_OBJECT
private slots:
    void rowsInOrder();
};

void TestProjectTypeTable::rowsInOrder()
{
    QStringList keys;
    for (const auto &row : projectTypeTable) {
        keys << row.key;
        QVERIFY(!row.title.isEmpty());
        QVERIFY(row.icon.startsWith(":/icons/"));
        QVERIFY(row.color.isValid());
    }
    QCOMPARE(keys, (QStringList{"object_detection", "segmentation", "pose", "face", "classification"}));
    QVERIFY(!keys.contains(ProjectTypes::SemanticSegmentation));
    QCOMPARE(projectTypeTable[1].title, QStringLiteral("Instance Segmentation"));
    QCOMPARE(projectTypeTable[3].color, QColor("#EC4899"));
}

QM_TEST_MAIN(TestProjectTypeTable)
#include "tst_projecttypetable.moc"
