#include "QmTest.h"

#include "formats/CocoHandler.h"
#include "formats/CreateMLHandler.h"
#include "formats/CvatHandler.h"
#include "formats/ImportFailure.h"
#include "formats/MulticlassHandler.h"
#include "formats/PascalVocHandler.h"
#include "formats/RetinaNetHandler.h"
#include "formats/YoloTfHandler.h"

#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <memory>

using namespace Quillmark;

namespace {

using MakeHandler = std::function<std::unique_ptr<IFormatHandler>()>;

template <typename Handler> MakeHandler make()
{
    return [] { return std::make_unique<Handler>(); };
}

} // namespace

Q_DECLARE_METATYPE(MakeHandler)

// Damaged datasets of several formats: the import fails and its reason names
// the file and the damage, not a bare "failed".
class TestImportFailure : public QObject {
    Q_OBJECT
private slots:
    void reasonNamesFileAndDamage_data();
    void reasonNamesFileAndDamage();
    void successLeavesNoReason();
    void scopesNestAndLastNoteWins();
};

void TestImportFailure::reasonNamesFileAndDamage_data()
{
    QTest::addColumn<MakeHandler>("handler");
    QTest::addColumn<QString>("file"); // written into a fresh folder ("" writes nothing)
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("importPath"); // relative to the folder ("" for the folder)
    QTest::addColumn<QString>("fileNamed");  // the file the reason must name
    QTest::addColumn<QString>("damage");     // words the reason must hold

    const QByteArray openQuote = "a.jpg,1,2,30,40,cat\n\"b.jpg,1,2,30,40,dog\nc.jpg,1,2,3,4,cat\n";
    QTest::newRow("RetinaNet: quote never closed")
        << make<RetinaNetHandler>() << "train.csv" << openQuote << "train.csv"
        << "train.csv"
        << "line 2: a quoted field is not closed";
    QTest::newRow("Multiclass: quote never closed")
        << make<MulticlassHandler>() << "_classes.csv" << QByteArray("filename,cat,dog\na.jpg,1,0\n\"b.jpg,0,1\n") << ""
        << "_classes.csv"
        << "line 3: a quoted field is not closed";
    QTest::newRow("YOLO TF: field over the bound")
        << make<YoloTfHandler>() << "_annotations.csv"
        << QByteArray("filename,width,height,class,xmin,ymin,xmax,ymax\n") + QByteArray(70 * 1024, 'x') + "\n"
        << "_annotations.csv"
        << "_annotations.csv"
        << "line 2: a field is longer than 64 KiB";
    QTest::newRow("COCO: JSON cut short")
        << make<CocoHandler>() << "_annotations.coco.json"
        << QByteArray(R"({"images":[{"id":1,"file_name":"a.jpg","width":4,"height":4}],"annotations":[)")
        << "_annotations.coco.json"
        << "_annotations.coco.json"
        << "not valid JSON";
    QTest::newRow("COCO: file missing") << make<CocoHandler>() << "" << QByteArray() << "gone.json"
                                        << "gone.json"
                                        << "cannot be opened";
    QTest::newRow("COCO: no images listed")
        << make<CocoHandler>() << "c.json" << QByteArray(R"({"images":[],"annotations":[]})") << "c.json"
        << "c.json"
        << "lists no images";
    QTest::newRow("CreateML: broken JSON") << make<CreateMLHandler>() << "_annotations.createml.json"
                                           << QByteArray(R"([{"image":"a.jpg",)") << "_annotations.createml.json"
                                           << "_annotations.createml.json"
                                           << "not valid JSON";
    QTest::newRow("CVAT: XML element never closed")
        << make<CvatHandler>() << "annotations.xml"
        << QByteArray("<annotations>\n<image id=\"0\" name=\"a.jpg\" width=\"4\" height=\"4\">\n<box label=\"c\"\n")
        << "annotations.xml"
        << "annotations.xml"
        << "damaged XML at line";
    QTest::newRow("CVAT: no annotation file in the folder")
        << make<CvatHandler>() << "notes.txt" << QByteArray("hello") << ""
        << ""
        << "no CVAT annotation file";
    QTest::newRow("Pascal VOC: damaged XML")
        << make<PascalVocHandler>() << "a.xml" << QByteArray("<annotation><filename>a.jpg</filename><object>") << ""
        << "a.xml"
        << "damaged XML";
}

void TestImportFailure::reasonNamesFileAndDamage()
{
    QFETCH(MakeHandler, handler);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, importPath);
    QFETCH(QString, fileNamed);
    QFETCH(QString, damage);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!file.isEmpty()) {
        QFile out(dir.filePath(file));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }
    const QString path = importPath.isEmpty() ? dir.path() : dir.filePath(importPath);
    Dataset dataset;
    QString why;
    QVERIFY(!handler()->importExplained(path, dataset, ProgressCallback(), &why));
    QVERIFY2(why.contains(damage), qPrintable(why));
    const QString named = fileNamed.isEmpty() ? dir.path() : dir.filePath(fileNamed);
    QVERIFY2(why.startsWith(QDir::toNativeSeparators(named) + QStringLiteral(": ")), qPrintable(why));
}

void TestImportFailure::successLeavesNoReason()
{
    QTemporaryDir dir;
    QFile out(dir.filePath("_classes.csv"));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("filename,cat\na.jpg,1\n");
    out.close();
    Dataset dataset;
    QString why = QStringLiteral("untouched");
    QVERIFY(MulticlassHandler().importExplained(dir.path(), dataset, ProgressCallback(), &why));
    QCOMPARE(why, QStringLiteral("untouched"));
    QCOMPARE(dataset.images.size(), 1);
}

void TestImportFailure::scopesNestAndLastNoteWins()
{
    ImportFailure::note(QStringLiteral("x"), QStringLiteral("outside any scope"));
    ImportFailure outer;
    QVERIFY(!outer.hasReason());
    {
        ImportFailure inner;
        ImportFailure::note(QStringLiteral("/a"), QStringLiteral("first"));
        ImportFailure::note(QString(), QStringLiteral("second"));
        QCOMPARE(inner.reason(), QStringLiteral("second"));
    }
    QCOMPARE(outer.reason(), QStringLiteral("second"));
}

QM_TEST_MAIN(TestImportFailure)
#include "tst_importfailure.moc"
