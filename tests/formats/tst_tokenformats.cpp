#include "QmTest.h"

#include "FormatTestSupport.h"

#include "formats/Florence2Handler.h"
#include "formats/FormatRegistry.h"
#include "formats/PaliGemmaHandler.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

using namespace Quillmark;
using namespace FormatTest;

// Florence-2 and PaliGemma: JSON Lines whose boxes are location tokens.
class TestTokenFormats : public QObject {
    Q_OBJECT
private slots:
    void florenceSuffix_data();
    void florenceSuffix();
    void florenceParse_data();
    void florenceParse();
    void paliGemmaSuffix_data();
    void paliGemmaSuffix();
    void paliGemmaParse_data();
    void paliGemmaParse();
    void unknownSizeIsProbedBeforeWriting();
    void detection_data();
    void detection();
    void florenceImport();
    void paliGemmaImportsSplitFiles();
    void paliGemmaFindsItsOwnExport();
    void exportsReadByPython();
    void exportFailsWhenFileCannotBeWritten();
};

namespace {

IFormatHandler &florence()
{
    return *FormatRegistry::instance().find("Florence-2");
}

IFormatHandler &paliGemma()
{
    return *FormatRegistry::instance().find("PaliGemma");
}

using Boxes = QList<Annotation>;

QList<QPair<QString, QRectF>> boxesOf(const QList<Annotation> &annotations)
{
    QList<QPair<QString, QRectF>> boxes;
    for (const Annotation &a : annotations) {
        if (a.kind != BoundingBox || a.confidence != 1.0f)
            return {};
        boxes.append({a.className, a.bbox});
    }
    return boxes;
}

void compareBoxes(const QList<Annotation> &actual, const QList<QPair<QString, QRectF>> &expected)
{
    const auto boxes = boxesOf(actual);
    QCOMPARE(boxes.size(), expected.size());
    for (qsizetype i = 0; i < boxes.size(); ++i) {
        QCOMPARE(boxes.at(i).first, expected.at(i).first);
        fuzzyCompareRect(boxes.at(i).second, expected.at(i).second, 1e-9);
    }
}

} // namespace

using BoxList = QList<QPair<QString, QRectF>>;

void TestTokenFormats::florenceSuffix_data()
{
    QTest::addColumn<Boxes>("annotations");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("whole image") << Boxes{box("cat", 0, 0, 640, 480)} << QSize(640, 480)
                                 << "cat<loc_0><loc_0><loc_999><loc_999>";
    QTest::newRow("two boxes, no separator")
        << Boxes{box("cat", 64, 96, 128, 96), box("dog", 0, 0, 640, 480)} << QSize(640, 480)
        << "cat<loc_100><loc_200><loc_300><loc_400>dog<loc_0><loc_0><loc_999><loc_999>";
    // 1.6 / 640 * 1000 = 2.5 rounds up; anything left of the image is 0.
    QTest::newRow("halves away from zero")
        << Boxes{box("a", 1.6, -1.2, 10, 10)} << QSize(640, 480) << "a<loc_3><loc_0><loc_18><loc_18>";
    QTest::newRow("flipped box") << Boxes{box("a", 640, 480, -320, -240)} << QSize(640, 480)
                                 << "a<loc_500><loc_500><loc_999><loc_999>";
    QTest::newRow("unknown size: normalised")
        << Boxes{box("a", 0.1, 0.2, 0.2, 0.2)} << QSize(0, 0) << "a<loc_100><loc_200><loc_300><loc_400>";
    QTest::newRow("unknown size: pixels clamp")
        << Boxes{box("a", 5, 5, 5, 5)} << QSize(0, 0) << "a<loc_999><loc_999><loc_999><loc_999>";
    QTest::newRow("outlines as their bounds")
        << Boxes{polygon("p", {{64, 48}, {320, 48}, {64, 240}}),
                 keypoints("k", {0, 0, 1, 1}, {{0, 0}, {640, 480}}, {2, 2})}
        << QSize(640, 480) << "p<loc_100><loc_100><loc_500><loc_500>k<loc_0><loc_0><loc_999><loc_999>";
    QTest::newRow("no boxes of lines, points, empty shapes")
        << Boxes{polyline("l", {{0, 0}, {5, 5}}), point("p", 3, 3), polygon("e", {}), box("z", 1, 1, 0, 5)}
        << QSize(640, 480) << "";
}

void TestTokenFormats::florenceSuffix()
{
    QFETCH(Boxes, annotations);
    QFETCH(QSize, size);
    QFETCH(QString, suffix);
    QCOMPARE(buildFlorenceSuffix(annotations, size.width(), size.height()), suffix);
}

void TestTokenFormats::florenceParse_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<BoxList>("boxes");
    QTest::newRow("two boxes") << "cat<loc_100><loc_200><loc_300><loc_400>dog<loc_0><loc_0><loc_999><loc_999>"
                               << QSize(1000, 500)
                               << BoxList{{"cat", QRectF(100, 100, 200, 100)}, {"dog", QRectF(0, 0, 999, 499.5)}};
    QTest::newRow("labels trimmed") << "  big cat <loc_0><loc_0><loc_500><loc_500>" << QSize(100, 100)
                                    << BoxList{{"big cat", QRectF(0, 0, 50, 50)}};
    QTest::newRow("reversed corners") << "a<loc_500><loc_500><loc_100><loc_100>" << QSize(100, 100)
                                      << BoxList{{"a", QRectF(10, 10, 40, 40)}};
    QTest::newRow("blank label") << " <loc_0><loc_0><loc_5><loc_5>" << QSize(100, 100) << BoxList{};
    QTest::newRow("tokens without digits") << "a<loc_><loc_1><loc_2><loc_3>" << QSize(100, 100) << BoxList{};
    QTest::newRow("a class with <") << "a<b<loc_0><loc_0><loc_10><loc_10>" << QSize(100, 100)
                                    << BoxList{{"b", QRectF(0, 0, 1, 1)}};
    QTest::newRow("unknown size: fractions")
        << "a<loc_100><loc_200><loc_300><loc_400>" << QSize(0, 0) << BoxList{{"a", QRectF(0.1, 0.2, 0.2, 0.2)}};
    QTest::newRow("empty") << "" << QSize(100, 100) << BoxList{};
    QTest::newRow("token beyond single precision")
        << "a<loc_1><loc_2><loc_999999999999999999999999999999999999999999999><loc_4>b<loc_0><loc_0><loc_10><loc_10>" << QSize(100, 100)
        << BoxList{{"b", QRectF(0, 0, 1, 1)}};
}

void TestTokenFormats::florenceParse()
{
    QFETCH(QString, suffix);
    QFETCH(QSize, size);
    QFETCH(BoxList, boxes);
    compareBoxes(parseFlorenceSuffix(suffix, size.width(), size.height()), boxes);
}

void TestTokenFormats::paliGemmaSuffix_data()
{
    QTest::addColumn<Boxes>("annotations");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("suffix");
    // 48 / 480 * 1023 = 102.3: top and left 0102, bottom and right 1023.
    QTest::newRow("order top, left, bottom, right")
        << Boxes{box("cat", 64, 48, 576, 432)} << QSize(640, 480) << "<loc0102><loc0102><loc1023><loc1023> cat";
    QTest::newRow("two boxes") << Boxes{box("cat", 0, 0, 10, 10), box("dog", 0, 0, 1023, 1023)} << QSize(1023, 1023)
                               << "<loc0000><loc0000><loc0010><loc0010> cat ; <loc0000><loc0000><loc1023><loc1023> dog";
    QTest::newRow("unknown size: normalised")
        << Boxes{box("a", 0.5, 0.25, 0.5, 0.5)} << QSize(0, 0) << "<loc0256><loc0512><loc0767><loc1023> a";
    QTest::newRow("unknown size: pixels clamp")
        << Boxes{box("a", 5, 5, 5, 5)} << QSize(0, 0) << "<loc1023><loc1023><loc1023><loc1023> a";
    QTest::newRow("no boxes of lines, points, empty shapes")
        << Boxes{polyline("l", {{0, 0}, {5, 5}}), point("p", 3, 3), box("z", 1, 1, 5, 0)} << QSize(640, 480) << "";
}

void TestTokenFormats::paliGemmaSuffix()
{
    QFETCH(Boxes, annotations);
    QFETCH(QSize, size);
    QFETCH(QString, suffix);
    QCOMPARE(buildPaliGemmaSuffix(annotations, size.width(), size.height()), suffix);
}

void TestTokenFormats::paliGemmaParse_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<BoxList>("boxes");
    QTest::newRow("two boxes") << "<loc0102><loc0051><loc0512><loc1023> cat ; <loc0000><loc0000><loc0010><loc0010> dog"
                               << QSize(1023, 2046)
                               << BoxList{{"cat", QRectF(51, 204, 972, 820)}, {"dog", QRectF(0, 0, 10, 20)}};
    QTest::newRow("blanks around") << "  <loc0000><loc0000><loc1023><loc1023>   big cat   " << QSize(10, 10)
                                   << BoxList{{"big cat", QRectF(0, 0, 10, 10)}};
    QTest::newRow("class glued to the tokens")
        << "<loc0001><loc0002><loc0003><loc0004>cat" << QSize(10, 10) << BoxList{};
    QTest::newRow("three tokens") << "<loc0001><loc0002><loc0003> cat" << QSize(10, 10) << BoxList{};
    QTest::newRow("empty pieces") << " ; <loc0000><loc0000><loc1023><loc1023> a ;  ; " << QSize(10, 10)
                                  << BoxList{{"a", QRectF(0, 0, 10, 10)}};
    QTest::newRow("unknown size: fractions")
        << "<loc0000><loc0000><loc1023><loc1023> a" << QSize(0, 0) << BoxList{{"a", QRectF(0, 0, 1, 1)}};
    QTest::newRow("token beyond single precision")
        << "<loc0001><loc999999999999999999999999999999999999999999999><loc0003><loc0004> a ; <loc0000><loc0000><loc1023><loc1023> b" << QSize(10, 10)
        << BoxList{{"b", QRectF(0, 0, 10, 10)}};
}

void TestTokenFormats::paliGemmaParse()
{
    QFETCH(QString, suffix);
    QFETCH(QSize, size);
    QFETCH(BoxList, boxes);
    compareBoxes(parsePaliGemmaSuffix(suffix, size.width(), size.height()), boxes);
}

// A writer that scales by the image size finds out an unknown size from the
// file before it writes. Without any pixels to ask, it writes only boxes that
// are normalised already, never pixel boxes clamped into nonsense.
void TestTokenFormats::unknownSizeIsProbedBeforeWriting()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("src/known.png"), 640, 480));
    Dataset dataset;
    dataset.addImage(image(dir.filePath("src/known.png"), 0, 0, {box("cat", 64, 48, 576, 432)}));
    ImageEntry held = image("held.png", 0, 0, {box("dog", 0, 0, 320, 240)});
    held.image = QImage(640, 480, QImage::Format_RGB32);
    dataset.addImage(held);
    dataset.addImage(
        image(dir.filePath("src/gone.png"), 0, 0, {box("pixel", 64, 48, 10, 10), box("unit", 0.5, 0.5, 0.25, 0.25)}));

    QVERIFY(florence().exportDataset(dir.filePath("f.jsonl"), dataset, {}));
    QVERIFY(paliGemma().exportDataset(dir.filePath("p.jsonl"), dataset, {}));
    const QList<QByteArray> f = readFile(dir.filePath("f.jsonl")).split('\n');
    const QList<QByteArray> p = readFile(dir.filePath("p.jsonl")).split('\n');
    QCOMPARE(f.at(0),
             QByteArray(R"({"image":"known.png","prefix":"<OD>","suffix":"cat<loc_100><loc_100><loc_999><loc_999>"})"));
    QCOMPARE(f.at(1),
             QByteArray(R"({"image":"held.png","prefix":"<OD>","suffix":"dog<loc_0><loc_0><loc_500><loc_500>"})"));
    QCOMPARE(f.at(2),
             QByteArray(R"({"image":"gone.png","prefix":"<OD>","suffix":"unit<loc_500><loc_500><loc_750><loc_750>"})"));
    QVERIFY(p.at(0).contains(R"("suffix":"<loc0102><loc0102><loc1023><loc1023> cat")"));
    QVERIFY(p.at(2).contains(R"("suffix":"<loc0512><loc0512><loc0767><loc0767> unit")"));
}

void TestTokenFormats::detection_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("claimed");
    const QByteArray florenceLine =
        R"({"image": "a.jpg", "prefix": "<OD>", "suffix": "car<loc_52><loc_333><loc_932><loc_774>"})";
    const QByteArray paliLine =
        R"({"image": "a.jpg", "prefix": "detect car", "suffix": "<loc0052><loc0333><loc0932><loc0774> car"})";
    const QByteArray unboxed = R"({"image":"a.jpg","prefix":"<OD>","suffix":""})";
    const QByteArray unboxedPali = R"({"image":"a.jpg","prefix":"detect","suffix":""})";
    const QByteArray caption = R"({"image": "a.jpg", "prefix": "<CAPTION>", "suffix": "a car"})";
    QTest::newRow("Florence-2 file") << "Florence-2"
                                     << "annotations.jsonl" << florenceLine << true;
    QTest::newRow("Florence-2, first image without boxes") << "Florence-2"
                                                           << "annotations.jsonl" << unboxed << true;
    QTest::newRow("Florence-2 other task") << "Florence-2"
                                           << "annotations.jsonl" << caption << false;
    QTest::newRow("Florence-2, other file name") << "Florence-2"
                                                 << "train.jsonl" << florenceLine << false;
    QTest::newRow("Florence-2 reads no PaliGemma") << "Florence-2"
                                                   << "annotations.jsonl" << paliLine << false;
    QTest::newRow("PaliGemma split file") << "PaliGemma"
                                          << "_annotations.train.jsonl" << paliLine << true;
    QTest::newRow("PaliGemma own export") << "PaliGemma"
                                          << "_annotations.jsonl" << paliLine << true;
    QTest::newRow("PaliGemma, no boxes yet") << "PaliGemma"
                                             << "_ANNOTATIONS.jsonl" << unboxedPali << true;
    QTest::newRow("PaliGemma reads no Florence-2") << "PaliGemma"
                                                   << "_annotations.jsonl" << florenceLine << false;
    QTest::newRow("PaliGemma, other file name") << "PaliGemma"
                                                << "annotations.jsonl" << paliLine << false;
}

void TestTokenFormats::detection()
{
    QFETCH(QString, handler);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, claimed);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(fileName), content + "\n"));
    IFormatHandler *h = FormatRegistry::instance().find(handler);
    QCOMPARE(h->canImport(dir.path()), claimed);
    // A file named directly is sniffed whatever its name.
    const bool fileClaimed = h->canImport(dir.filePath(fileName));
    if (claimed)
        QVERIFY(fileClaimed);
}

void TestTokenFormats::florenceImport()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a.jpg"), 1000, 500));
    QVERIFY(writeImage(dir.filePath("images/b.jpg"), 100, 100));
    const QByteArray text =
        "\xEF\xBB\xBF"
        R"({"image": "a.jpg", "prefix": "<OD>", "suffix": "car<loc_100><loc_200><loc_300><loc_400>"})"
        "\n\n   \n"
        "not json\n"
        "[1, 2]\n"
        "{}\n"
        R"({"image": "x/b.jpg", "suffix": "dog<loc_0><loc_0><loc_500><loc_500>"})"
        "\r\n"
        R"({"image": "gone.jpg", "suffix": "cat<loc_0><loc_0><loc_500><loc_500>"})";
    QVERIFY(writeFile(dir.filePath("annotations.jsonl"), text));
    QVERIFY(florence().canImport(dir.path()));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(florence().importDataset(dir.path(), dataset, [&](int i, int n) { calls.append({i, n}); }));
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 8}, {2, 8}, {3, 8}}));
    QCOMPARE(dataset.images.size(), 3);
    QCOMPARE(dataset.classColors.size(), 0);
    QCOMPARE(dataset.images.at(0).id, 0);
    QCOMPARE(dataset.images.at(0).filePath, dir.filePath("a.jpg"));
    compareBoxes(dataset.images.at(0).labels, {{"car", QRectF(100, 100, 200, 100)}});
    QCOMPARE(dataset.images.at(1).id, 1);
    QCOMPARE(dataset.images.at(1).filePath, dir.filePath("images/b.jpg"));
    compareBoxes(dataset.images.at(1).labels, {{"dog", QRectF(0, 0, 50, 50)}});
    // An image that is not found keeps its boxes as fractions of 1.
    QCOMPARE(dataset.images.at(2).width, 0);
    compareBoxes(dataset.images.at(2).labels, {{"cat", QRectF(0, 0, 0.5, 0.5)}});

    QTemporaryDir empty;
    QVERIFY(writeFile(empty.filePath("annotations.jsonl"), "\n{}\nnot json\n"));
    QVERIFY(!florence().importDataset(empty.path(), dataset, {}));
    QVERIFY(!florence().importDataset(empty.filePath("missing.jsonl"), dataset, {}));
}

void TestTokenFormats::paliGemmaImportsSplitFiles()
{
    QTemporaryDir dir;
    QVERIFY(writeImage(dir.filePath("a.jpg"), 1023, 1023));
    const QByteArray train =
        R"({"image": "a.jpg", "prefix": "detect cat ; dog ; bird", "suffix": "<loc0000><loc0000><loc0010><loc0010> cat ; <loc0000><loc0000><loc0020><loc0020> fish"})"
        "\n\n"
        R"({"image": "gone.jpg", "prefix": "detect cat", "suffix": "<loc0000><loc0000><loc1023><loc0512> cat"})"
        "\n";
    const QByteArray valid = "broken\n"
                             R"({"image": "a.jpg", "prefix": "caption en", "suffix": ""})"
                             "\n";
    QVERIFY(writeFile(dir.filePath("_annotations.valid.jsonl"), valid));
    QVERIFY(writeFile(dir.filePath("_annotations.train.jsonl"), train));
    QVERIFY(writeFile(dir.filePath("notes.jsonl"), R"({"prefix": "detect x", "suffix": "<loc0001>"})"));
    QVERIFY(paliGemma().canImport(dir.path()));
    Dataset dataset;
    QList<QPair<int, int>> calls;
    QVERIFY(paliGemma().importDataset(dir.path(), dataset, [&](int i, int n) { calls.append({i, n}); }));
    // Every line counts toward the progress, blank and broken ones too.
    QCOMPARE(calls, (QList<QPair<int, int>>{{1, 5}, {3, 5}, {5, 5}}));
    QCOMPARE(dataset.images.size(), 3);
    QCOMPARE(dataset.images.at(0).id, 0);
    QCOMPARE(dataset.images.at(2).id, 2);
    // Classes of the prompt join even when no box uses them; a class only a
    // box names stays a class name of its annotation.
    QCOMPARE(dataset.classColors.keys(), (QStringList{"bird", "cat", "dog"}));
    compareBoxes(dataset.images.at(0).labels, {{"cat", QRectF(0, 0, 10, 10)}, {"fish", QRectF(0, 0, 20, 20)}});
    compareBoxes(dataset.images.at(1).labels, {{"cat", QRectF(0, 0, 512.0 / 1023.0, 1)}});
    QVERIFY(dataset.images.at(2).labels.isEmpty());
}

void TestTokenFormats::paliGemmaFindsItsOwnExport()
{
    QTemporaryDir dir;
    Dataset dataset;
    dataset.addClass("zebra", QColor());
    dataset.addImage(image(dir.filePath("src/a.png"), 100, 100));
    dataset.addImage(image(dir.filePath("src/b.png"), 100, 100, {box("cat", 10, 20, 30, 40)}));
    const QString out = dir.filePath("out");
    QVERIFY(paliGemma().exportDataset(out + "/_annotations.jsonl", dataset, {}));
    QVERIFY(paliGemma().canImport(out));
    QVERIFY(!florence().canImport(out));
    Dataset read;
    QVERIFY(paliGemma().importDataset(out, read, {}));
    QCOMPARE(read.images.size(), 2);
    QCOMPARE(read.classColors.keys(), (QStringList{"cat", "zebra"}));
    QCOMPARE(read.images.at(1).labels.at(0).className, QStringLiteral("cat"));
    // Not found, so as fractions: 10 px of 100 went out as token 102.
    fuzzyCompareRect(read.images.at(1).labels.at(0).bbox,
                     QRectF(102.0 / 1023, 205.0 / 1023, 307.0 / 1023, 409.0 / 1023), 1e-9);

    Dataset florenceSet = dataset;
    QVERIFY(florence().exportDataset(out + "/annotations.jsonl", florenceSet, {}));
    QVERIFY(florence().canImport(out));
}

void TestTokenFormats::exportsReadByPython()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    QTemporaryDir dir;
    Dataset dataset;
    const QString odd = QString::fromUtf8("çiçek \"dal\"");
    dataset.addClass("zebra", QColor());
    dataset.addImage(
        image(dir.filePath("a/frame.png"), 640, 480,
              {box("cat", 64, 48, 576, 432), box(odd, 0, 0, 6.4, 4.8), polyline("road", {{0, 0}, {5, 5}})}));
    dataset.addImage(image(dir.filePath("b/frame.png"), 640, 480));
    dataset.addImage(image(dir.filePath("c.png"), 640, 480, {polygon("dog", {{320, 240}, {640, 480}, {320, 480}})}));
    QVERIFY(florence().exportDataset(dir.filePath("f.jsonl"), dataset, {}));
    QVERIFY(paliGemma().exportDataset(dir.filePath("p.jsonl"), dataset, {}));

    const QJsonArray expectedFlorence{
        QJsonArray{"frame.png", "<OD>",
                   QJsonArray{QJsonArray{"cat", 100, 100, 999, 999}, QJsonArray{odd, 0, 0, 10, 10}}},
        QJsonArray{"frame_2.png", "<OD>", QJsonArray{}},
        QJsonArray{"c.png", "<OD>", QJsonArray{QJsonArray{"dog", 500, 500, 999, 999}}},
    };
    const QString prefix = QStringLiteral("detect zebra ; cat ; ") + odd + QStringLiteral(" ; road ; dog");
    const QJsonArray expectedPali{
        QJsonArray{"frame.png", prefix,
                   QJsonArray{QJsonArray{"cat", 102, 102, 1023, 1023}, QJsonArray{odd, 0, 0, 10, 10}}},
        QJsonArray{"frame_2.png", prefix, QJsonArray{}},
        QJsonArray{"c.png", prefix, QJsonArray{QJsonArray{"dog", 512, 512, 1023, 1023}}},
    };
    QVERIFY(writeFile(dir.filePath("ef.json"), QJsonDocument(expectedFlorence).toJson()));
    QVERIFY(writeFile(dir.filePath("ep.json"), QJsonDocument(expectedPali).toJson()));
    QByteArray output;
    QVERIFY2(runReaderScript("check_jsonformats.py", {"florence", dir.filePath("f.jsonl"), dir.filePath("ef.json")},
                             &output),
             output.constData());
    QVERIFY2(runReaderScript("check_jsonformats.py", {"paligemma", dir.filePath("p.jsonl"), dir.filePath("ep.json")},
                             &output),
             output.constData());
}

void TestTokenFormats::exportFailsWhenFileCannotBeWritten()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath("taken.jsonl")));
    Dataset dataset;
    dataset.addImage(image("/a.png", 4, 4, {box("cat", 0, 0, 1, 1)}));
    for (IFormatHandler *h : {&florence(), &paliGemma()})
        QVERIFY(!h->exportDataset(dir.filePath("taken.jsonl"), dataset, {}));
}

QM_TEST_MAIN(TestTokenFormats)
#include "tst_tokenformats.moc"
