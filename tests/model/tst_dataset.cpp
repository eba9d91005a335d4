#include "QmTest.h"

#include "model/ClassTally.h"
#include "model/Dataset.h"
#include "model/ProjectFile.h"

#include <QTemporaryDir>

#include <limits>

using namespace Quillmark;

namespace {

ImageEntry imageWithId(int id)
{
    ImageEntry e;
    e.id = id;
    return e;
}

Annotation ann(const QString &cls)
{
    Annotation a;
    a.className = cls;
    return a;
}

QList<int> imageIds(const Dataset &d)
{
    QList<int> ids;
    for (const auto &e : d.images)
        ids << e.id;
    return ids;
}

} // namespace

class TestDataset : public QObject {
    Q_OBJECT
private slots:
    void ids_data();
    void ids();
    void videoIdsFollowTheSameRule();
    void counterStopsAtTheLargestId();
    void paletteWrapsAndFollowsClassCount();
    void addClassNameRules();
    void setClassColorRules();
    void classNamesOrder();
    void removeImageKeepsOrderAndCounter();
    void removeClass();
    void renameClass_data();
    void renameClass();
    void keypointSchemaAddsObjectClass();
    void schemaFollowsItsClass_data();
    void schemaFollowsItsClass();
    void syncClassesOrder();
    void classTallyMergesEqualNames();
};

void TestDataset::ids_data()
{
    QTest::addColumn<QList<int>>("given");
    QTest::addColumn<QList<int>>("expected");
    QTest::addColumn<int>("nextId");
    QTest::newRow("all new") << QList<int>{-1, -1, -1} << QList<int>{0, 1, 2} << 3;
    QTest::newRow("own id pushes counter") << QList<int>{-1, -1, 7, -1} << QList<int>{0, 1, 7, 8} << 9;
    QTest::newRow("lower own id keeps counter") << QList<int>{-1, -1, 7, -1, 3} << QList<int>{0, 1, 7, 8, 3} << 9;
    QTest::newRow("duplicates are not checked") << QList<int>{5, 5} << QList<int>{5, 5} << 6;
}

void TestDataset::ids()
{
    QFETCH(QList<int>, given);
    QFETCH(QList<int>, expected);
    QFETCH(int, nextId);
    Dataset d;
    for (int id : given)
        d.addImage(imageWithId(id));
    QCOMPARE(imageIds(d), expected);
    QCOMPARE(d.nextImageId, nextId);
}

void TestDataset::videoIdsFollowTheSameRule()
{
    Dataset d;
    VideoEntry v;
    d.addVideo(v);
    v.id = 4;
    d.addVideo(v);
    v.id = -1;
    d.addVideo(v);
    QCOMPARE(d.videos.at(0).id, 0);
    QCOMPARE(d.videos.at(2).id, 5);
    QCOMPARE(d.nextVideoId, 6);
    QCOMPARE(d.nextImageId, 0);
}

// The counter never wraps into negative ids, which stand for video frames.
void TestDataset::counterStopsAtTheLargestId()
{
    constexpr int largest = std::numeric_limits<int>::max();
    Dataset d;
    d.addImage(imageWithId(largest - 1));
    d.addImage(imageWithId(-1));
    d.addImage(imageWithId(-1));
    QCOMPARE(imageIds(d), (QList<int>{largest - 1, largest, largest}));
    QCOMPARE(d.nextImageId, largest);

    Dataset e;
    e.addVideo([] { VideoEntry v; v.id = largest; return v; }());
    QCOMPARE(e.nextVideoId, largest);
}

void TestDataset::paletteWrapsAndFollowsClassCount()
{
    Dataset d;
    for (int i = 0; i < 9; ++i)
        d.addClass(QStringLiteral("c%1").arg(i), QColor());
    QCOMPARE(d.classColors.value("c0"), QColor("#4D8DFF"));
    QCOMPARE(d.classColors.value("c7"), QColor("#FF77AA"));
    QCOMPARE(d.classColors.value("c8"), QColor("#4D8DFF"));

    Dataset e;
    for (int i = 0; i < 8; ++i)
        e.addClass(QStringLiteral("k%1").arg(i), QColor());
    e.removeClass("k3");
    e.addClass("new", QColor());
    QCOMPARE(e.classColors.value("new"), QColor("#FF77AA"));

    // A valid colour is kept as given.
    e.addClass("red", QColor(Qt::red));
    QCOMPARE(e.classColors.value("red"), QColor(Qt::red));
}

void TestDataset::addClassNameRules()
{
    Dataset d;
    d.addClass("  padded ", QColor(Qt::blue));
    d.addClass("   ", QColor(Qt::blue));
    d.addClass("", QColor(Qt::blue));
    d.addClass("  padded ", QColor(Qt::red)); // exists: unchanged
    QCOMPARE(d.classColors.keys(), QStringList{"  padded "});
    QCOMPARE(d.classColors.value("  padded "), QColor(Qt::blue));
}

void TestDataset::setClassColorRules()
{
    Dataset d;
    d.setClassColor("   ", QColor(Qt::green)); // blanks are accepted here
    d.setClassColor("", QColor(Qt::green));
    d.setClassColor("a", QColor());
    QCOMPARE(d.classColors.keys(), QStringList{"   "});
    d.setClassColor("   ", QColor(Qt::red));
    QCOMPARE(d.classColors.value("   "), QColor(Qt::red));
}

void TestDataset::classNamesOrder()
{
    Dataset d;
    d.addClass("b", QColor());
    d.addClass("B", QColor());
    ImageEntry e;
    e.labels = {ann("c"), ann("a"), ann("c"), ann("b")};
    d.addImage(e);
    VideoEntry v;
    v.frameLabels.insert(0, {ann("videoOnly")});
    d.addVideo(v);
    QCOMPARE(d.classNames(), (QStringList{"B", "b", "c", "a"}));
}

void TestDataset::removeImageKeepsOrderAndCounter()
{
    Dataset d;
    for (int i = 0; i < 4; ++i)
        d.addImage(imageWithId(-1));
    d.removeImage(1);
    QCOMPARE(imageIds(d), (QList<int>{0, 2, 3}));
    QVERIFY(d.imageById(1) == nullptr);
    QVERIFY(d.imageById(2) != nullptr);
    d.addImage(imageWithId(-1));
    QCOMPARE(d.images.last().id, 4);
    d.removeImage(42); // unknown: nothing happens
    QCOMPARE(d.images.size(), 4);
}

void TestDataset::removeClass()
{
    Dataset d;
    d.addClass("cat", QColor());
    d.addClass("dog", QColor());
    ImageEntry e;
    e.labels = {ann("cat"), ann("dog"), ann("cat"), ann("orphan")};
    d.addImage(e);
    VideoEntry v;
    v.frameLabels.insert(3, {ann("cat"), ann("dog")});
    v.frameLabels.insert(12, {ann("cat")});
    d.addVideo(v);

    d.removeClass("orphan"); // not in the map: nothing changes
    QCOMPARE(d.images.at(0).labels.size(), 4);

    d.removeClass("cat");
    QCOMPARE(d.classColors.keys(), QStringList{"dog"});
    QCOMPARE(d.images.at(0).labels.size(), 2);
    QCOMPARE(d.videos.at(0).frameLabels.keys(), QList<int>{3});
    QCOMPARE(d.videos.at(0).frameLabels.value(3).size(), 1);
}

void TestDataset::renameClass_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QStringList>("labelClasses");
    QTest::newRow("plain") << "cat" << "lion" << QStringList{"dog", "lion"} << QStringList{"lion", "dog", "Cat"};
    QTest::newRow("merge") << "cat" << "dog" << QStringList{"dog"} << QStringList{"dog", "dog", "Cat"};
    QTest::newRow("case only") << "cat" << "Cat" << QStringList{"Cat", "dog"} << QStringList{"Cat", "dog", "Cat"};
    QTest::newRow("same") << "cat" << "cat" << QStringList{"cat", "dog"} << QStringList{"cat", "dog", "Cat"};
    QTest::newRow("blank target") << "cat" << "  " << QStringList{"cat", "dog"} << QStringList{"cat", "dog", "Cat"};
    QTest::newRow("unknown source") << "Cat" << "x" << QStringList{"cat", "dog"} << QStringList{"cat", "dog", "Cat"};
}

void TestDataset::renameClass()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QStringList, classes);
    QFETCH(QStringList, labelClasses);

    Dataset d;
    d.addClass("cat", QColor(Qt::red));
    d.addClass("dog", QColor(Qt::blue));
    ImageEntry e;
    e.labels = {ann("cat"), ann("dog"), ann("Cat")};
    d.addImage(e);
    VideoEntry v;
    v.frameLabels.insert(0, {ann("cat")});
    d.addVideo(v);

    const QColor catColor = d.classColors.value("cat");
    d.renameClass(from, to);
    QCOMPARE(d.classColors.keys(), classes);
    QStringList got;
    for (const auto &a : d.images.at(0).labels)
        got << a.className;
    QCOMPARE(got, labelClasses);
    if (classes.contains(to) && !classes.contains("cat")) {
        QCOMPARE(d.classColors.value(to), catColor);
        QCOMPARE(d.videos.at(0).frameLabels.value(0).at(0).className, to);
    }
}

void TestDataset::keypointSchemaAddsObjectClass()
{
    Dataset d;
    d.addClass("a", QColor());
    KeypointSchema s;
    s.objectClass = "person";
    s.keypointNames = {"nose", "eye"};
    s.edges = {{0, 1}};
    d.setKeypointSchema(s);
    QCOMPARE(d.keypointSchema, s);
    QCOMPARE(d.classColors.value("person"), classPalette[1]);

    KeypointSchema other;
    other.objectClass = "hand";
    d.setKeypointSchema(other);
    QVERIFY(d.classColors.contains("person")); // earlier class stays
    QVERIFY(d.classColors.contains("hand"));

    KeypointSchema blank;
    blank.objectClass = "  ";
    d.setKeypointSchema(blank);
    QCOMPARE(d.classColors.size(), 3);
}

void TestDataset::schemaFollowsItsClass_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("objectClass");
    QTest::addColumn<QStringList>("classesAfterReopening");
    QTest::newRow("rename") << "rename" << "human" << "human" << QStringList{"car", "human"};
    QTest::newRow("rename into another class") << "rename" << "car" << "car" << QStringList{"car"};
    QTest::newRow("remove") << "remove" << QString() << QString() << QStringList{"car"};
    QTest::newRow("remove another class") << "removeCar" << QString() << "person" << QStringList{"person"};
}

void TestDataset::schemaFollowsItsClass()
{
    QFETCH(QString, operation);
    QFETCH(QString, newName);
    QFETCH(QString, objectClass);
    QFETCH(QStringList, classesAfterReopening);

    Project project;
    project.name = "poses";
    project.projectType = "pose";
    Dataset &d = project.dataset;
    d.addClass("car", QColor(Qt::blue));
    KeypointSchema schema;
    schema.objectClass = "person";
    schema.keypointNames = {"nose", "left_eye", "right_eye"};
    schema.edges = {{0, 1}, {0, 2}};
    d.setKeypointSchema(schema);

    if (operation == "rename")
        d.renameClass("person", newName);
    else if (operation == "remove")
        d.removeClass("person");
    else
        d.removeClass("car");
    QCOMPARE(d.keypointSchema.objectClass, objectClass);
    // The keypoints and the skeleton stay.
    QCOMPARE(d.keypointSchema.keypointNames, schema.keypointNames);
    QCOMPARE(d.keypointSchema.edges, schema.edges);

    // The old name does not come back when the project is opened again.
    QTemporaryDir dir;
    const QString path = dir.filePath("poses.qmk");
    QVERIFY(saveProjectFile(project, path));
    Project reopened;
    QVERIFY(loadProjectFile(reopened, path));
    QCOMPARE(reopened.dataset.classColors.keys(), classesAfterReopening);
    QCOMPARE(reopened.dataset.keypointSchema.objectClass, objectClass);
}

void TestDataset::syncClassesOrder()
{
    Dataset d;
    d.addClass("keep", QColor(Qt::black));
    ImageEntry e;
    e.labels = {ann("zeta"), ann(""), ann("keep"), ann("alpha")};
    d.addImage(e);
    VideoEntry v;
    v.frameLabels.insert(9, {ann("late")});
    v.frameLabels.insert(2, {ann("early")});
    d.addVideo(v);
    d.syncClassesFromAnnotations();
    QCOMPARE(d.classColors.value("keep"), QColor(Qt::black));
    QCOMPARE(d.classColors.value("zeta"), classPalette[1]);
    QCOMPARE(d.classColors.value("alpha"), classPalette[2]);
    QCOMPARE(d.classColors.value("early"), classPalette[3]);
    QCOMPARE(d.classColors.value("late"), classPalette[4]);
    QVERIFY(!d.classColors.contains(""));
}

// Names are counted by their text's address while they can be: equal names
// with texts of their own, names past the remembered bound, and empty names
// must still add up by name.
void TestDataset::classTallyMergesEqualNames()
{
    ClassTally tally;
    const QString shared = QStringLiteral("car");
    for (int i = 0; i < 3; ++i)
        tally.add(shared);
    tally.add(QString::fromUtf8("car")); // the same name, a text of its own
    tally.add(QString());
    tally.add(QStringLiteral(""));
    // More distinct texts than are remembered by address.
    for (int i = 0; i < 5000; ++i)
        tally.add(QStringLiteral("n%1").arg(i % 2500));
    tally.add(QString::fromUtf8("car")); // past the bound
    const QMap<QString, int> counts = tally.counts();
    QCOMPARE(counts.value(QStringLiteral("car")), 5);
    QCOMPARE(counts.value(QString()), 2);
    QCOMPARE(counts.value(QStringLiteral("n0")), 2);
    QCOMPARE(counts.value(QStringLiteral("n2499")), 2);
    QCOMPARE(counts.size(), 2 + 2500);
}

QM_TEST_MAIN(TestDataset)
#include "tst_dataset.moc"
