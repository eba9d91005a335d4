#include "DamagedJson.h"
#include "FileSizeCap.h"
#include "QmTest.h"

#include "model/ProjectFile.h"

#include <QJsonDocument>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>


using namespace Quillmark;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A small project that touches every key the writer can produce.
Project sampleProject()
{
    Project p;
    p.name = "Demo";
    p.projectType = "pose";

    Annotation box;
    box.className = "person";
    box.kind = BoundingBox;
    box.bbox = QRectF(10, 20.5, 30, 40);
    box.confidence = 0.9f;

    Annotation kp;
    kp.className = "person";
    kp.kind = Keypoint;
    kp.bbox = QRectF(1, 2, 3, 4);
    kp.points = {QPointF(1, 2), QPointF(3.25, 4)};
    kp.keypointVis = {2, 0};

    ImageEntry img;
    img.filePath = "/data/a.jpg";
    img.width = 640;
    img.height = 480;
    img.labels = {box, kp};
    p.dataset.addImage(img);

    Annotation line;
    line.className = "Lane";
    line.kind = Polyline;
    line.points = {QPointF(0, 0), QPointF(5, 5)};
    VideoEntry v;
    v.filePath = "/data/v.mp4";
    v.width = 320;
    v.height = 240;
    v.frameCount = 100;
    v.fps = 29.97f;
    v.frameLabels.insert(9, {line});
    v.frameLabels.insert(10, {line});
    p.dataset.addVideo(v);

    KeypointSchema s;
    s.objectClass = "person";
    s.keypointNames = {"nose", "eye"};
    s.edges = {{0, 1}};
    p.dataset.setKeypointSchema(s);
    p.dataset.addClass("Lane", QColor("#ABCDEF"));
    return p;
}

const char *goldenText = R"({
    "dataset": {
        "classColors": {
            "Lane": "#abcdef",
            "person": "#4d8dff"
        },
        "images": [
            {
                "filePath": "/data/a.jpg",
                "height": 480,
                "id": 0,
                "labels": [
                    {
                        "bbox": {
                            "h": 40,
                            "w": 30,
                            "x": 10,
                            "y": 20.5
                        },
                        "className": "person",
                        "confidence": 0.8999999761581421,
                        "type": "BoundingBox"
                    },
                    {
                        "bbox": {
                            "h": 4,
                            "w": 3,
                            "x": 1,
                            "y": 2
                        },
                        "className": "person",
                        "confidence": 1,
                        "keypointVis": [
                            2,
                            0
                        ],
                        "polygon": [
                            [
                                1,
                                2
                            ],
                            [
                                3.25,
                                4
                            ]
                        ],
                        "type": "Keypoint"
                    }
                ],
                "width": 640
            }
        ],
        "keypointSchema": {
            "edges": [
                [
                    0,
                    1
                ]
            ],
            "keypointNames": [
                "nose",
                "eye"
            ],
            "objectClass": "person"
        },
        "videos": [
            {
                "filePath": "/data/v.mp4",
                "fps": 29.969999313354492,
                "frameCount": 100,
                "frameLabels": {
                    "10": [
                        {
                            "bbox": {
                                "h": 0,
                                "w": 0,
                                "x": 0,
                                "y": 0
                            },
                            "className": "Lane",
                            "confidence": 1,
                            "polygon": [
                                [
                                    0,
                                    0
                                ],
                                [
                                    5,
                                    5
                                ]
                            ],
                            "type": "Polyline"
                        }
                    ],
                    "9": [
                        {
                            "bbox": {
                                "h": 0,
                                "w": 0,
                                "x": 0,
                                "y": 0
                            },
                            "className": "Lane",
                            "confidence": 1,
                            "polygon": [
                                [
                                    0,
                                    0
                                ],
                                [
                                    5,
                                    5
                                ]
                            ],
                            "type": "Polyline"
                        }
                    ]
                },
                "height": 240,
                "id": 0,
                "width": 320
            }
        ]
    },
    "name": "Demo",
    "projectType": "pose",
    "version": "1.0"
}
)";

QString writeTemp(const QTemporaryDir &dir, const QByteArray &json)
{
    const QString path = dir.filePath("in.qmk");
    writeAll(path, json);
    return path;
}

Project loadJson(const QTemporaryDir &dir, const QByteArray &json)
{
    Project p;
    const bool ok = loadProjectFile(p, writeTemp(dir, json));
    if (!ok)
        qWarning("load failed");
    return p;
}

// A project file of many image entries laid out as the program writes it
// (one member to a line, entries indented 12 blanks), several megabytes long
// so that its entries are read in many batches. `element` may put anything
// between an entry's braces; `newline` ends every line.
QByteArray manyEntries(int count, const std::function<QByteArray(int)> &members, const QByteArray &newline = "\n")
{
    QByteArray text = "{" + newline + "    \"dataset\": {" + newline + "        \"images\": [" + newline;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += "," + newline;
        text += "            {" + newline + members(i) + newline + "            }";
    }
    return text + newline + "        ]" + newline + "    }," + newline + "    \"name\": \"many\"" + newline + "}" + newline;
}

QByteArray entryMembers(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "                \"filePath\": \"img_" + n + ".jpg\",\n                \"id\": " + n +
           ",\n                \"labels\": [\n                    {\n                        \"bbox\": {\"h\": 2, \"w\": 3, "
           "\"x\": " + n + ", \"y\": 1.5},\n                        \"className\": \"c" + QByteArray::number(i % 7) +
           "\"\n                    }\n                ]";
}

} // namespace

class TestProjectFile : public QObject {
    Q_OBJECT
private slots:
    void goldenBytes();
    void streamedBytesMatchDocument();
    void roundTrip();
    void emptySchemaIsLeftOut();
    void readerDefaults_data();
    void readerDefaults();
    void classColorsFromFile();
    void idsFromFile();
    void idsStayUnique_data();
    void idsStayUnique();
    void frameKeys();
    void fpsFromFile_data();
    void fpsFromFile();
    void failedLoadLeavesProjectUntouched_data();
    void failedLoadLeavesProjectUntouched();
    void readsAsTheWholeDocumentWould_data();
    void readsAsTheWholeDocumentWould();
    void numbersTooSmallForADouble_data();
    void numbersTooSmallForADouble();
    void damagedFilesReadAsBefore();
    void escapesAtEveryOffset();
    void loadsFileBeyondTwoGiB();
    void saveCreatesFolders();
    void failedSaveKeepsOldFile();
    void shortWriteKeepsOldFile_data();
    void shortWriteKeepsOldFile();
    void attributesSurviveSaving();
    void attributesReadAlike_data();
    void attributesReadAlike();
};

void TestProjectFile::goldenBytes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("golden.qmk");
    QVERIFY(saveProjectFile(sampleProject(), path));
    QCOMPARE(QString::fromUtf8(readAll(path)), QString::fromUtf8(goldenText));
}

// The file is streamed; it must be exactly what a JSON document of the same
// content would print, for any text and any number.
void TestProjectFile::streamedBytesMatchDocument()
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const QStringList names = {"plain", "quote\"back\\slash", QString::fromUtf8("ünïcødé ☃ 😀"),
                               QString("ctl\x01\x1f\b\f\n\r\t\x7f"), QString(QChar(0xD800)) + "lone",
                               QString(QChar(0xDC00)), "/slash", "Zebra", "alpha", ""};
    int n = 0;
    auto number = [&]() -> double {
        const int i = n++;
        switch (i % 7) {
        case 0: return unit(random) * 4000;
        case 1: return std::round(unit(random) * 1e6) / 1000;
        case 2: return double(float(unit(random)));
        case 3: return std::ldexp(1.0, int(random() % 140) - 20) * double(random() % 9 + 1);
        case 4: return -std::pow(10.0, double(int(random() % 44) - 22)) * double(random() % 1000);
        case 5: {
            double d;
            const quint64 bits = random();
            std::memcpy(&d, &bits, sizeof d);
            return std::isfinite(d) ? d : 0.5;
        }
        default: return double(qint64(random() % 20000) - 10000);
        }
    };

    Project p;
    p.name = names[2];
    p.projectType = names[1];
    for (int i = 0; i < 60; ++i) {
        ImageEntry e;
        e.filePath = names[i % names.size()];
        e.width = int(random() % 5000);
        e.height = -int(random() % 3);
        for (int k = 0; k < int(random() % 4); ++k) {
            Annotation a;
            a.className = names[(i + k) % names.size()];
            a.kind = int(random() % 7) - 1;
            a.bbox = QRectF(number(), number(), number(), number());
            a.confidence = float(number());
            for (int j = 0; j < int(random() % 4); ++j)
                a.points.append(QPointF(number(), number()));
            for (int j = 0; j < int(random() % 3); ++j)
                a.keypointVis.append(int(random() % 5) - 1);
            e.labels.append(a);
        }
        p.dataset.addImage(e);
    }
    VideoEntry v;
    v.fps = float(number());
    for (int frame : {0, 1, 2, 9, 10, 11, 100, 1000, 123456})
        v.frameLabels.insert(frame, p.dataset.images.at(frame % 7).labels);
    v.frameLabels.insert(5, {});
    p.dataset.addVideo(v);
    p.dataset.addVideo(VideoEntry());
    for (const auto &name : names)
        p.dataset.setClassColor(name, QColor::fromRgb(quint32(random())));
    KeypointSchema schema;
    schema.objectClass = names[2];
    schema.keypointNames = names;
    schema.edges = {{0, 1}, {-1, 7}};
    p.dataset.keypointSchema = schema;

    const QByteArray expected = QJsonDocument(projectToJson(p)).toJson(QJsonDocument::Indented);
    const QByteArray streamed = projectToJsonBytes(p);
    if (streamed != expected) {
        qsizetype at = 0;
        while (at < streamed.size() && at < expected.size() && streamed[at] == expected[at])
            ++at;
        qWarning() << "first difference at" << at << streamed.mid(qMax<qsizetype>(0, at - 80), 160)
                   << expected.mid(qMax<qsizetype>(0, at - 80), 160);
    }
    QCOMPARE(streamed, expected);
}

void TestProjectFile::roundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("p.qmk");
    Project original = sampleProject();
    original.dataset.images[0].labels[0].id = 12; // not kept
    original.dataset.images[0].labels[0].attributes.insert("k", 1);
    original.dataset.images[0].image = QImage(2, 2, QImage::Format_RGB32);
    original.dataset.videos[0].bytes = "xyz";
    QVERIFY(saveProjectFile(original, path));

    Project loaded;
    QVERIFY(loadProjectFile(loaded, path));
    QCOMPARE(loaded.name, original.name);
    QCOMPARE(loaded.projectType, original.projectType);
    QCOMPARE(loaded.dataset.classColors, original.dataset.classColors);
    QCOMPARE(loaded.dataset.keypointSchema, original.dataset.keypointSchema);
    QCOMPARE(loaded.dataset.images.size(), 1);
    const ImageEntry &img = loaded.dataset.images.at(0);
    QCOMPARE(img.filePath, QStringLiteral("/data/a.jpg"));
    QCOMPARE(img.width, 640);
    QVERIFY(img.image.isNull());
    QCOMPARE(img.labels.size(), 2);
    QCOMPARE(img.labels.at(0).id, -1);
    QCOMPARE(img.labels.at(0).attributes, (QVariantMap{{"k", 1}}));
    QVERIFY(img.labels.at(1).attributes.isEmpty());
    QCOMPARE(img.labels.at(0).confidence, 0.9f);
    QCOMPARE(img.labels.at(1).points, original.dataset.images[0].labels[1].points);
    QCOMPARE(img.labels.at(1).keypointVis, (QList<int>{2, 0}));
    const VideoEntry &v = loaded.dataset.videos.at(0);
    QCOMPARE(v.fps, 29.97f);
    QVERIFY(v.bytes.isEmpty());
    QCOMPARE(v.frameLabels.keys(), (QList<int>{9, 10}));
    QCOMPARE(loaded.dataset.nextImageId, 1);

    // A second save of what was loaded is byte-identical.
    const QString again = dir.filePath("again.qmk");
    QVERIFY(saveProjectFile(loaded, again));
    QCOMPARE(readAll(again), readAll(path));
}

void TestProjectFile::emptySchemaIsLeftOut()
{
    Project p;
    p.dataset.keypointSchema.objectClass = "person";
    const QByteArray bytes = projectToJsonBytes(p);
    QVERIFY(!bytes.contains("keypointSchema"));
    QTemporaryDir dir;
    const Project back = loadJson(dir, bytes);
    QVERIFY(!back.dataset.keypointSchema.isInUse());
    QVERIFY(back.dataset.keypointSchema.objectClass.isEmpty());
}

void TestProjectFile::readerDefaults_data()
{
    QTest::addColumn<QByteArray>("annotationJson");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QRectF>("bbox");
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<QList<int>>("vis");
    QTest::addColumn<float>("confidence");

    QTest::newRow("empty object") << QByteArray("{}") << int(BoundingBox) << QRectF() << QList<QPointF>{}
                                  << QList<int>{} << 1.0f;
    QTest::newRow("lower-case type") << QByteArray(R"({"type":"polygon"})") << int(BoundingBox) << QRectF()
                                     << QList<QPointF>{} << QList<int>{} << 1.0f;
    QTest::newRow("partial bbox") << QByteArray(R"({"type":"Point","bbox":{"x":3,"h":"7"}})") << int(Point)
                                  << QRectF(3, 0, 0, 0) << QList<QPointF>{} << QList<int>{} << 1.0f;
    QTest::newRow("polygon items") << QByteArray(R"({"type":"Polygon","polygon":[[5],[1,2,3],["a",4],7]})")
                                   << int(Polygon) << QRectF() << QList<QPointF>{{1, 2}, {0, 4}} << QList<int>{}
                                   << 1.0f;
    QTest::newRow("keypoint without vis") << QByteArray(R"({"type":"Keypoint","polygon":[[1,1]]})")
                                          << int(Keypoint) << QRectF() << QList<QPointF>{{1, 1}} << QList<int>{}
                                          << 1.0f;
    QTest::newRow("vis not whole") << QByteArray(R"({"type":"Keypoint","keypointVis":[0,1.5,"x",1]})")
                                   << int(Keypoint) << QRectF() << QList<QPointF>{} << QList<int>{0, 2, 2, 1}
                                   << 1.0f;
    QTest::newRow("confidence") << QByteArray(R"({"confidence":0.25})") << int(BoundingBox) << QRectF()
                                << QList<QPointF>{} << QList<int>{} << 0.25f;
}

void TestProjectFile::readerDefaults()
{
    QFETCH(QByteArray, annotationJson);
    QFETCH(int, kind);
    QFETCH(QRectF, bbox);
    QFETCH(QList<QPointF>, points);
    QFETCH(QList<int>, vis);
    QFETCH(float, confidence);

    const Annotation a = annotationFromJson(QJsonDocument::fromJson(annotationJson).object());
    QCOMPARE(a.kind, kind);
    QCOMPARE(a.bbox, bbox);
    QCOMPARE(a.points, points);
    QCOMPARE(a.keypointVis, vis);
    QCOMPARE(a.confidence, confidence);
    QCOMPARE(a.id, -1);
}

void TestProjectFile::classColorsFromFile()
{
    QTemporaryDir dir;
    const Project p = loadJson(dir, R"({"dataset":{"classColors":{"bad":5,"named":"red","  ":"#000000"},
        "images":[{"labels":[{"className":"used"}]}]}})");
    QCOMPARE(p.dataset.classColors.value("bad"), classPalette[0]);
    QCOMPARE(p.dataset.classColors.value("named"), QColor(Qt::red));
    QCOMPARE(p.dataset.classColors.value("used"), classPalette[2]);
    QVERIFY(!p.dataset.classColors.contains("  "));
}

void TestProjectFile::idsFromFile()
{
    QTemporaryDir dir;
    const Project p = loadJson(dir, R"({"dataset":{"images":[{},{"id":40},{},{"id":40},{"id":-3,"width":-1,"height":1}],
        "videos":[{"id":2},{"id":2}]}})");
    QList<int> ids;
    for (const auto &e : p.dataset.images)
        ids << e.id;
    // The repeated 40 gets a fresh id; -3 means "no id".
    QCOMPARE(ids, (QList<int>{0, 40, 41, 42, 43}));
    QCOMPARE(p.dataset.images.at(4).width, 0);
    QCOMPARE(p.dataset.images.at(4).height, 1);
    QCOMPARE(p.dataset.videos.at(0).id, 2);
    QCOMPARE(p.dataset.videos.at(1).id, 3);
}

// Whatever ids a file stores, every image (and every video) ends up with an id
// of its own, and the counter stays far from running out.
void TestProjectFile::idsStayUnique_data()
{
    QTest::addColumn<QByteArray>("entries");
    QTest::addColumn<QList<int>>("ids");
    QTest::newRow("stored id equals a handed-out one") << QByteArray(R"([{}, {"id":0}])") << QList<int>{0, 1};
    QTest::newRow("stored id equals a replaced one") << QByteArray(R"([{"id":0}, {"id":0}, {"id":1}])")
                                                     << QList<int>{0, 1, 2};
    QTest::newRow("later stored id below the counter") << QByteArray(R"([{"id":5}, {}, {"id":6}, {"id":2}])")
                                                       << QList<int>{5, 6, 7, 2};
    QTest::newRow("largest int") << QByteArray(R"([{"id":2147483647}, {}])") << QList<int>{0, 1};
    QTest::newRow("beyond the counter's reach") << QByteArray(R"([{"id":3}, {"id":2000000000}, {}])")
                                                << QList<int>{3, 4, 5};
}

void TestProjectFile::idsStayUnique()
{
    QFETCH(QByteArray, entries);
    QFETCH(QList<int>, ids);
    QTemporaryDir dir;
    const Project p = loadJson(dir, "{\"dataset\":{\"images\":" + entries + ",\"videos\":" + entries + "}}");
    QList<int> imageIds;
    for (const auto &e : p.dataset.images)
        imageIds << e.id;
    QList<int> videoIds;
    for (const auto &e : p.dataset.videos)
        videoIds << e.id;
    QCOMPARE(imageIds, ids);
    QCOMPARE(videoIds, ids);
    QCOMPARE(p.dataset.nextImageId, *std::max_element(ids.cbegin(), ids.cend()) + 1);
}

void TestProjectFile::frameKeys()
{
    QTemporaryDir dir;
    const Project p = loadJson(dir, R"({"dataset":{"videos":[{"frameLabels":{
        "3":[{"className":"a"}], "x":[{"className":"b"}], "-1":[{"className":"c"}], "+2":[{"className":"d"}],
        "0":[{"className":"zero"}], "4":[], "99999999999":[{"className":"huge"}]}}]}})");
    const VideoEntry &v = p.dataset.videos.at(0);
    QCOMPARE(v.frameLabels.keys(), (QList<int>{0, 3}));
    QCOMPARE(v.frameLabels.value(0).at(0).className, QStringLiteral("zero"));
    QCOMPARE(v.fps, 25.0f);
}

void TestProjectFile::fpsFromFile_data()
{
    QTest::addColumn<QByteArray>("fps");
    QTest::addColumn<float>("expected");
    QTest::newRow("stored") << QByteArray("29.97") << 29.97f;
    QTest::newRow("whole") << QByteArray("60") << 60.0f;
    QTest::newRow("zero") << QByteArray("0") << 25.0f;
    QTest::newRow("negative") << QByteArray("-30") << 25.0f;
    QTest::newRow("beyond a float") << QByteArray("1e300") << 25.0f;
    QTest::newRow("not a number") << QByteArray("\"fast\"") << 25.0f;
}

// A frame rate that cannot be one reads as none given.
void TestProjectFile::fpsFromFile()
{
    QFETCH(QByteArray, fps);
    QFETCH(float, expected);
    QTemporaryDir dir;
    const Project p = loadJson(dir, "{\"dataset\":{\"videos\":[{\"fps\":" + fps + "}]}}");
    QCOMPARE(p.dataset.videos.size(), 1);
    QCOMPARE(p.dataset.videos.at(0).fps, expected);
}

void TestProjectFile::failedLoadLeavesProjectUntouched_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("createFile");
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("invalid json") << QByteArray("{\"name\": ") << true;
    QTest::newRow("array top level") << QByteArray("[1,2]") << true;
    QTest::newRow("empty file") << QByteArray() << true;
}

void TestProjectFile::failedLoadLeavesProjectUntouched()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, createFile);
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.qmk");
    if (createFile)
        QVERIFY(writeAll(path, content));
    Project p = sampleProject();
    QVERIFY(!loadProjectFile(p, path));
    QCOMPARE(p.name, QStringLiteral("Demo"));
    QCOMPARE(p.dataset.images.size(), 1);
}

// The reader takes the file a piece at a time; whatever the text, it must come
// to what reading it as one JSON document gives.
void TestProjectFile::readsAsTheWholeDocumentWould_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray golden = goldenText;
    QTest::newRow("golden") << golden;
    QTest::newRow("compact") << QJsonDocument::fromJson(golden).toJson(QJsonDocument::Compact);
    QTest::newRow("byte-order mark and blanks") << QByteArray("\xEF\xBB\xBF \r\n\t{ \"dataset\" : { \"images\" : "
                                                              "[ { } ,\n{ \"id\" : 4 } ] } , \"name\" : \"x\" }\n\n");
    QTest::newRow("keys in any order, escaped") << QByteArray(
        R"({"version":"1.0","\u0064ataset":{"videos":[{"frameLabels":{"2":[{"className":"v"}]}}],)"
        R"("imag\u0065s":[{"filePath":"a]}\"[{,:\\","id":3,"labels":[{"className":"}"}]}]},"name":"n\\"})");
    QTest::newRow("repeated keys: the last wins")
        << QByteArray(R"({"dataset":{"images":[{"id":1}]},"name":"a","dataset":{"images":[{"id":2},{"id":2}],)"
                      R"("classColors":{"k":"red"},"images":[{"id":7}],"classColors":{"j":"blue"}},"name":"b"})");
    QTest::newRow("repeated keys inside records") << QByteArray(
        R"({"dataset":{"images":[{"id":1,"labels":[{"className":"gone"}],"id":2,"labels":[{"bbox":{"x":1,"h":5},)"
        R"("bbox":{"y":2},"polygon":[[1,2]],"polygon":7,"keypointVis":[1],"type":"Point","type":"Polygon"}]}],)"
        R"("videos":[{"fps":12,"fps":"x","frameLabels":{"1":[{}]},"frameLabels":{"2":[{}],"2":[]}}]}})");
    QTest::newRow("odd items in points and visibilities") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"type":"Keypoint","polygon":[[5],[1,2,3],["a",4],7,[null,true],[],)"
        R"([[1],2]],"keypointVis":[0,1.5,"x",1,1e10,-0.0,[2],null,2147483647,-2147483649]}]}]}})");
    QTest::newRow("keys naming one frame") << QByteArray(
        R"({"dataset":{"videos":[{"frameLabels":{"7":[{"className":"a"}],"07":[],"3":[],"003":[{"className":"b"}],)"
        R"("\u0035":[{"className":"c"}],"5":[{"className":"d"}]}}]}})");
    QTest::newRow("elements that are not objects") << QByteArray(R"({"dataset":{"images":[1,"x",null,[],{},true]}})");
    QTest::newRow("dataset not an object") << QByteArray(R"({"dataset":[{"images":[{}]}],"name":"x"})");
    QTest::newRow("images not an array") << QByteArray(R"({"dataset":{"images":{"a":{}},"videos":7}})");
    QTest::newRow("unknown members") << QByteArray(R"({"extra":{"deep":[[[{"x":[1,2,{"y":null}]}]]]},"dataset":{"more":[]}})");
    QTest::newRow("name of another type") << QByteArray(R"({"name":12,"projectType":["pose"]})");
    QTest::newRow("empty object") << QByteArray("{}");

    QTest::newRow("trailing comma in images") << QByteArray(R"({"dataset":{"images":[{},]}})");
    QTest::newRow("trailing comma in object") << QByteArray(R"({"name":"a",})");
    QTest::newRow("garbage after the object") << QByteArray(R"({"name":"a"} x)");
    QTest::newRow("nul after the object") << QByteArray("{}\0", 3);
    QTest::newRow("missing colon") << QByteArray(R"({"dataset" {}})");
    QTest::newRow("missing comma") << QByteArray(R"({"dataset":{"images":[{} {}]}})");
    QTest::newRow("unterminated string") << QByteArray(R"({"name":"abc})");
    QTest::newRow("escape at the very end") << QByteArray("{\"name\":\"abc\\");
    QTest::newRow("wrong closing bracket") << QByteArray(R"({"dataset":{"images":[{}}}})");
    QTest::newRow("truncated") << golden.left(golden.size() / 2);
    QTest::newRow("array at the top") << QByteArray(R"([{"name":"a"}])");
    QTest::newRow("string at the top") << QByteArray(R"("name")");
    QTest::newRow("blanks only") << QByteArray(" \n ");
    QTest::newRow("invalid element") << QByteArray(R"({"dataset":{"images":[{"id":01}]}})");
    QTest::newRow("invalid inside an unknown member") << QByteArray(R"({"x":[1,],"dataset":{}})");
    QTest::newRow("invalid in a replaced member") << QByteArray(R"({"dataset":{"images":[{,}]},"dataset":{}})");
    QTest::newRow("invalid literal") << QByteArray(R"({"name":tru})");
    QTest::newRow("invalid UTF-8") << QByteArray("{\"dataset\":{\"images\":[{\"filePath\":\"\xff\"}]}}");
    QTest::newRow("number glued to a string") << QByteArray(R"({"name":1"x"})");
    QTest::newRow("key not a string") << QByteArray(R"({name:"a"})");

    // Forms beyond the JSON grammar that Qt's reader takes, and that project
    // files opened with before: they still open, read as Qt's reader has them.
    QTest::newRow("number ending in its point")
        << QByteArray(R"({"dataset":{"images":[{"id":3.,"width":640.,"labels":[{"bbox":{"x":1.,"w":2.}}]}],)"
                      R"("videos":[{"fps":30.}]}})");
    QTest::newRow("unknown escapes") << QByteArray(R"({"dataset":{"images":[{"filePath":"C:\data\x.jpg",)"
                                                   R"("labels":[{"className":"c\at"}]}]},"name":"\q"})");
    QTest::newRow("control characters in strings")
        << QByteArray("{\"dataset\":{\"classColors\":{\"a\x01\":\"red\"},\"images\":[{\"filePath\":\"x\ty\","
                      "\"labels\":[{\"className\":\"tab\there\"}]}],\"videos\":[{\"frameLabels\":{\"2\":"
                      "[{\"className\":\"bell\x07\"}]}}]},\"projectType\":\"po\x1fse\"}");
    QTest::newRow("lenient forms in the schema") << QByteArray(
        "{\"dataset\":{\"keypointSchema\":{\"objectClass\":\"p\\erson\",\"edges\":[[1.,2]],"
        "\"keypointNames\":[\"n\x02\"]}}}");
    // Files of many entries, read in batches: wherever a batch would end
    // and whatever a batch holds, the result is that of the whole document.
    constexpr int entries = 12000;
    const auto withEntry = [](int at, QByteArray extra) {
        return [at, extra](int i) { return i == at ? extra + entryMembers(i) : entryMembers(i); };
    };
    QTest::newRow("many entries") << manyEntries(entries, entryMembers);
    QTest::newRow("many entries, CRLF lines") << manyEntries(entries, entryMembers, "\r\n");
    QTest::newRow("many entries, tabs") << manyEntries(entries, entryMembers).replace("    ", "\t");
    QTest::newRow("many entries, braces at the entries' indentation inside them")
        << manyEntries(entries, [](int i) {
               return "                \"extra\": {\n                \"a\": [{\"b\": 1}\n            }\n            ]\n"
                      "            },\n" + entryMembers(i);
           });
    QTest::newRow("many entries, one number ending in its point")
        << manyEntries(entries, withEntry(7000, "                \"width\": 640.,\n"));
    QTest::newRow("many entries, numbers ending in their point throughout")
        << manyEntries(entries, [](int i) { return entryMembers(i) + (i % 500 == 0 ? ",\"height\": 4." : ""); });
    QTest::newRow("many entries, one larger than a batch")
        << manyEntries(entries, withEntry(3000, "                \"labels\": [{\"type\": \"Polygon\", \"polygon\": [" +
                                                    QByteArray("[1.5, 2.5],\n").repeated(120000) + "[3, 4]]}],\n"));
    QTest::newRow("many entries, one not an object") << manyEntries(entries, entryMembers).replace(
        "            {\n                \"filePath\": \"img_9000.jpg\"", "            7, {\n                \"filePath\": \"img_9000.jpg\"");
    QTest::newRow("many entries, invalid far in") << manyEntries(entries, withEntry(9000, "                \"id\": 01,\n"));
    QTest::newRow("many entries, missing comma far in") << manyEntries(entries, entryMembers).replace(
        "            },\n            {\n                \"filePath\": \"img_8000.jpg\"",
        "            }\n            {\n                \"filePath\": \"img_8000.jpg\"");
    QTest::newRow("many entries, cut short") << manyEntries(entries, entryMembers).left(2500000);
    QTest::newRow("lenient forms in unknown members")
        << QByteArray(R"({"notes":[1.,"\z"],"dataset":{"extra":{"a":2.}}})");
}

void TestProjectFile::readsAsTheWholeDocumentWould()
{
    QFETCH(QByteArray, text);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    const bool expectedOk = !document.isNull() && document.isObject();
    Project expected;
    if (expectedOk) {
        const QJsonObject root = document.object();
        expected.name = root.value("name").toString();
        expected.projectType = root.value("projectType").toString();
        expected.dataset = datasetFromJson(root.value("dataset").toObject());
    }

    QTemporaryDir dir;
    const QString path = dir.filePath("in.qmk");
    QVERIFY(writeAll(path, text));
    Project read = sampleProject();
    QCOMPARE(loadProjectFile(read, path), expectedOk);
    if (!expectedOk) {
        QCOMPARE(read.name, QStringLiteral("Demo")); // untouched
        return;
    }
    QCOMPARE(projectToJsonBytes(read), projectToJsonBytes(expected));
    QCOMPARE(read.dataset.nextImageId, expected.dataset.nextImageId);
    QCOMPARE(read.dataset.nextVideoId, expected.dataset.nextVideoId);
}

void TestProjectFile::numbersTooSmallForADouble_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("in a box") << QByteArray(R"({"dataset":{"images":[{"labels":[{"bbox":{"x":1e-400,"y":-2e-999}}]}]}})");
    QTest::newRow("in a video") << QByteArray(R"({"dataset":{"videos":[{"fps":1e-400,"frameCount":1E-400}]}})");
    QTest::newRow("in the schema") << QByteArray(R"({"dataset":{"keypointSchema":{"edges":[[1e-400,1]]}}})");
    QTest::newRow("as a class colour") << QByteArray(R"({"dataset":{"classColors":{"a":1e-400}}})");
    QTest::newRow("as the name") << QByteArray(R"({"name":1e-400,"extra":[0.1e-500]})");
}

// A number too small for a double is JSON all the same and reads as 0
// (Qt's reader refuses the whole text for it).
void TestProjectFile::numbersTooSmallForADouble()
{
    QFETCH(QByteArray, text);
    QVERIFY(QJsonDocument::fromJson(text).isNull());
    QByteArray zeroed = text;
    for (const char *tiny : {"-2e-999", "1e-400", "1E-400", "0.1e-500"})
        zeroed.replace(tiny, "0");
    const QJsonObject root = QJsonDocument::fromJson(zeroed).object();
    QVERIFY(!root.isEmpty());
    Project expected;
    expected.name = root.value("name").toString();
    expected.dataset = datasetFromJson(root.value("dataset").toObject());

    QTemporaryDir dir;
    Project read;
    QVERIFY(loadProjectFile(read, writeTemp(dir, text)));
    QCOMPARE(projectToJsonBytes(read), projectToJsonBytes(expected));
}

// Randomly damaged copies of a project file: each opens exactly when Qt's
// reader (which earlier versions used) or a strict JSON reader (Python's)
// takes it, and then holds what that reader reads.
void TestProjectFile::damagedFilesReadAsBefore()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    const QByteArray alphabet("{}[],:\"\\ 0123456789.eE+-xtfnul\x01\t\xc3\xa7\xff");
    const QByteArray golden = goldenText;
    const QList<QByteArray> texts = QmTest::damagedCopies(
        {golden, QJsonDocument::fromJson(golden).toJson(QJsonDocument::Compact)}, 2500, 11u, alphabet);
    const QList<QByteArray> verdicts = QmTest::strictJsonVerdicts(texts);
    QCOMPARE(verdicts.size(), texts.size());
    QTemporaryDir dir;

    int opened = 0;
    const QString path = dir.filePath("damaged.qmk");
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QByteArray &text = texts.at(i);
        const QByteArray shown = text.toPercentEncoding(" {}[]\":,");
        // Qt's reading when it takes the text, else the strict reading, which
        // Python writes back as plain JSON.
        QJsonDocument document = QJsonDocument::fromJson(text);
        if (document.isNull() && verdicts.at(i).startsWith("ok "))
            document = QJsonDocument::fromJson(verdicts.at(i).mid(3));
        const bool expectedOk = document.isObject();
        Project read = sampleProject();
        QVERIFY(writeAll(path, text));
        QVERIFY2(loadProjectFile(read, path) == expectedOk, shown.constData());
        if (!expectedOk)
            continue;
        ++opened;
        const QJsonObject root = document.object();
        Project expected;
        expected.name = root.value("name").toString();
        expected.projectType = root.value("projectType").toString();
        expected.dataset = datasetFromJson(root.value("dataset").toObject());
        QVERIFY2(projectToJsonBytes(read) == projectToJsonBytes(expected), shown.constData());
    }
    // The damage must leave both kinds of text in good numbers.
    QVERIFY(opened > 250 && opened < 2250);
}

// The walk that finds where an image object ends looks at the text in blocks;
// an escaped quote or backslash must be read right at every place in a block.
void TestProjectFile::escapesAtEveryOffset()
{
    QTemporaryDir dir;
    for (int offset = 0; offset < 140; ++offset) {
        const QByteArray filler(offset, 'a');
        const QByteArray written = filler + R"(\"]}\\)" + filler + R"(\\\"{[)";
        const QByteArray text = R"({"dataset":{"images":[{"filePath":")" + written +
                                R"(","labels":[{"className":"k"}]},{"id":9}]},"name":"n"})";
        Project p;
        QVERIFY2(loadProjectFile(p, writeTemp(dir, text)), QByteArray::number(offset).constData());
        QCOMPARE(p.dataset.images.size(), 2);
        QCOMPARE(p.dataset.images.at(0).filePath, QString::fromLatin1(filler + R"("]}\)" + filler + R"(\"{[)"));
        QCOMPARE(p.dataset.images.at(0).labels.size(), 1);
        QCOMPARE(p.dataset.images.at(1).id, 9);
        QCOMPARE(p.name, QStringLiteral("n"));
    }
}

// QJsonDocument cannot take more than 2 GiB of text at once; a project file of
// a large dataset is longer than that and must still open.
void TestProjectFile::loadsFileBeyondTwoGiB()
{
    // In the working folder rather than the temporary one, which may live in memory.
    QTemporaryDir dir(QDir::currentPath() + "/large-XXXXXX");
    QVERIFY(dir.isValid());
    constexpr qint64 padding = (qint64(1) << 31) + (qint64(1) << 24);
    if (QStorageInfo(dir.path()).bytesAvailable() < padding + (qint64(1) << 30))
        QSKIP("not enough free disk space for a file over 2 GiB");

    const QString path = dir.filePath("large.qmk");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(R"({"dataset": {"images": [{"filePath": "first.jpg", "id": 5},)") > 0);
        const QByteArray blanks(qsizetype(1) << 26, ' ');
        for (qint64 written = 0; written < padding; written += blanks.size()) {
            if (file.write(blanks) != blanks.size())
                QSKIP("the disk filled up while writing a file over 2 GiB");
        }
        QVERIFY(file.write(R"({"filePath": "last.jpg", "labels": [{"className": "cat"}]}]}, "name": "Large"})") > 0);
        QVERIFY(file.flush());
    }
    QVERIFY(QFileInfo(path).size() > padding);

    Project p;
    QVERIFY(loadProjectFile(p, path));
    QCOMPARE(p.name, QStringLiteral("Large"));
    QCOMPARE(p.dataset.images.size(), 2);
    QCOMPARE(p.dataset.images.at(0).id, 5);
    QCOMPARE(p.dataset.images.at(1).filePath, QStringLiteral("last.jpg"));
    QCOMPARE(p.dataset.images.at(1).id, 6);
    QCOMPARE(p.dataset.classColors.keys(), QStringList{"cat"});
}

void TestProjectFile::saveCreatesFolders()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a/b/c/p.qmk");
    QVERIFY(saveProjectFile(sampleProject(), path));
    Project p;
    QVERIFY(loadProjectFile(p, path));
    QCOMPARE(p.name, QStringLiteral("Demo"));
}

void TestProjectFile::failedSaveKeepsOldFile()
{
    QTemporaryDir dir;
    // The target is an existing folder: nothing can be written there.
    const QString folderTarget = dir.filePath("taken.qmk");
    QVERIFY(QDir().mkpath(folderTarget));
    QVERIFY(!saveProjectFile(sampleProject(), folderTarget));
    QVERIFY(QFileInfo(folderTarget).isDir());

    // The target's folder is a file: the save fails and the old bytes remain.
    const QString blocker = dir.filePath("blocker");
    QVERIFY(writeAll(blocker, "old"));
    QVERIFY(!saveProjectFile(sampleProject(), blocker + "/p.qmk"));
    QCOMPARE(readAll(blocker), QByteArray("old"));
}

void TestProjectFile::shortWriteKeepsOldFile_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("cap");
    // A small file goes out in one piece at the end, a large one in chunks.
    QTest::newRow("small project") << 1 << 1024;
    QTest::newRow("large project") << 20000 << 1024 * 1024;
}

// A save that runs out of room reports failure and leaves the previous file
// exactly as it was, with no stray temporary file beside it.
void TestProjectFile::shortWriteKeepsOldFile()
{
    QFETCH(int, images);
    QFETCH(int, cap);
    QTemporaryDir dir;
    const QString path = dir.filePath("p.qmk");
    Project previous;
    previous.name = "previous";
    QVERIFY(saveProjectFile(previous, path));
    const QByteArray previousBytes = readAll(path);

    Project bigger = sampleProject();
    const ImageEntry image = bigger.dataset.images.first();
    for (int i = 1; i < images; ++i)
        bigger.dataset.addImage(image);
    QVERIFY(projectToJsonBytes(bigger).size() > cap);
    {
        QmTest::FileSizeCap limit(rlim_t(cap) - 1);
        QVERIFY(limit.active);
        QVERIFY(!saveProjectFile(bigger, path));
    }
    QCOMPARE(readAll(path), previousBytes);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"p.qmk"});
}

namespace {

// Whether two attribute values are the same, kind for kind: maps and lists
// member by member, anything else by its type and value (1 and 1.0 differ).
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId())
        return false;
    if (a.typeId() == QMetaType::QVariantMap) {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.keys() != y.keys())
            return false;
        for (auto it = x.cbegin(); it != x.cend(); ++it) {
            if (!sameValue(it.value(), y.value(it.key())))
                return false;
        }
        return true;
    }
    if (a.typeId() == QMetaType::QVariantList) {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!sameValue(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    return a == b;
}

// Every attribute of every annotation, images and video frames, in order.
QList<QVariantMap> allAttributes(const Dataset &dataset)
{
    QList<QVariantMap> all;
    for (const ImageEntry &image : dataset.images) {
        for (const Annotation &a : image.labels)
            all.append(a.attributes);
    }
    for (const VideoEntry &video : dataset.videos) {
        for (const QList<Annotation> &frame : video.frameLabels) {
            for (const Annotation &a : frame)
                all.append(a.attributes);
        }
    }
    return all;
}

} // namespace

// The attributes an import gives annotations survive a save: the flags of
// the dataset (VOC, CVAT, CLIP, a COCO object's other members) as well as the
// geometry the drawing cannot hold (an object of several polygons, a crowd
// region). A second save is the same file.
void TestProjectFile::attributesSurviveSaving()
{
    Project p;
    p.dataset.addClass("person", QColor());
    Annotation object;
    object.className = "person";
    object.kind = Polygon;
    object.bbox = QRectF(1, 1, 30, 20);
    object.points = {QPointF(21, 11), QPointF(31, 11), QPointF(31, 21), QPointF(21, 21)};
    object.attributes.insert("coco:segmentation",
                             QVariantList{QVariantList{1, 1, 11, 1, 11, 11}, QVariantList{21, 11, 31, 11, 31, 21, 21, 21}});
    object.attributes.insert("coco:area", 130.5);
    Annotation crowd;
    crowd.className = "person";
    crowd.bbox = QRectF(2, 3, 10, 12);
    crowd.attributes.insert("iscrowd", 1);
    crowd.attributes.insert("coco:rle", QVariantMap{{"size", QVariantList{30, 40}}, {"counts", "PQ0a2"}});
    crowd.attributes.insert("coco:area", 55);
    Annotation voc; // as the VOC reader keeps an object's flags
    voc.className = "person";
    voc.bbox = QRectF(5, 6, 7, 8);
    voc.attributes = {{"difficult", 1}, {"truncated", 1}, {"occluded", 1}};
    Annotation clip; // CLIP: a class seen several times in the picture
    clip.className = "dog";
    clip.bbox = QRectF(0, 0, 40, 30);
    clip.attributes.insert("multiple", true);
    Annotation coco; // a COCO object's members beyond COCO's own
    coco.className = "car";
    coco.bbox = QRectF(1, 2, 3, 4);
    coco.attributes = {{"ignore", 1},
                       {"attributes", QVariantMap{{"occluded", false}, {"rotation", 0.5}, {"track_id", 3}}},
                       {"source", "manual"},
                       {"score", 0.25},
                       {"tags", QVariantList{"a", 2, QVariant::fromValue(nullptr), QVariantList{}, QVariantMap{}}},
                       {"segments_info", QVariantMap{}},
                       {"note", QVariant::fromValue(nullptr)}};
    ImageEntry image;
    image.filePath = "/data/a.png";
    image.labels = {object, crowd, voc, clip, coco};
    p.dataset.addImage(image);
    Annotation cvat; // CVAT: an occluded shape, in a video frame
    cvat.className = "person";
    cvat.bbox = QRectF(2, 2, 5, 5);
    cvat.attributes.insert("occluded", 1);
    VideoEntry video;
    video.filePath = "/data/v.mp4";
    video.frameLabels.insert(4, {crowd, cvat});
    p.dataset.addVideo(video);
    p.dataset.syncClassesFromAnnotations();

    QTemporaryDir dir;
    QVERIFY(saveProjectFile(p, dir.filePath("a.qmk")));
    Project back;
    QVERIFY(loadProjectFile(back, dir.filePath("a.qmk")));
    const QList<QVariantMap> written = allAttributes(p.dataset);
    const QList<QVariantMap> read = allAttributes(back.dataset);
    QCOMPARE(read.size(), written.size());
    for (qsizetype i = 0; i < read.size(); ++i)
        QVERIFY2(read.at(i) == written.at(i), qPrintable(QString::number(i)));
    // Kinds that the exporters tell apart come back as they went.
    QCOMPARE(read.at(3).value("multiple").typeId(), int(QMetaType::Bool));
    QCOMPARE(read.at(4).value("note").typeId(), int(QMetaType::Nullptr));
    QCOMPARE(read.at(4).value("score").typeId(), int(QMetaType::Double));
    QCOMPARE(read.at(4).value("attributes").toMap().value("occluded").typeId(), int(QMetaType::Bool));
    // Written as a document of the same content would be, and again the same.
    const QByteArray saved = readAll(dir.filePath("a.qmk"));
    QCOMPARE(saved, QJsonDocument(projectToJson(p)).toJson(QJsonDocument::Indented));
    QVERIFY(saveProjectFile(back, dir.filePath("b.qmk")));
    QCOMPARE(readAll(dir.filePath("b.qmk")), saved);
    // A file without the member reads as before: no attributes.
    QVERIFY(!QByteArray(goldenText).contains("attributes"));
    QTemporaryDir other;
    const Project golden = loadJson(other, goldenText);
    QVERIFY(golden.dataset.images.at(0).labels.at(0).attributes.isEmpty());
}

void TestProjectFile::attributesReadAlike_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("kept"); // image annotations that keep attributes
    QTest::newRow("every kind of value") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":{"iscrowd":true,"coco:area":1e3,"coco:rle":)"
        R"({"counts":[1,2,3],"size":[2,3],"x":null},"coco:segmentation":[[1,2,3,4,5,6],[7.5,"8",9]],)"
        R"("other":{"deep":[1]},"difficult":1,"whole":3.0,"negative zero":-0,"real zero":-0.0,)"
        R"("beyond 64 bits":123456789012345678901234567890,"largest":9223372036854775807,)"
        R"("tiny":5e-324,"text":"a\"\u00e9\ud83d\ude00","":false},"type":"Polygon","polygon":[[1,2],[3,4],[5,6]]}]}]}})")
        << 1;
    QTest::newRow("not an object") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":[1,2],"className":"a"},{"attributes":"x"},)"
        R"({"attributes":null},{"attributes":7},{"attributes":true},{"attributes":{}},{"attributes":{"other":1}}]}]}})")
        << 1;
    QTest::newRow("repeated: the last wins") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":{"iscrowd":1},"attributes":{"coco:area":2,"k":1,"k":[2]}}]}],)"
        R"("videos":[{"frameLabels":{"3":[{"attributes":{"iscrowd":0}}]}}]}})") << 1;
    // Class names and kinds are read through a store of strings keyed by
    // their written text: a key spelled as another string is written must
    // not come back as that string.
    QTest::newRow("keys written as other strings are") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"className":"a\\b","type":"Polygon","attributes":)"
        R"({"a\\\\b":1,"Polygon":2,"a\\b":3}}]}]}})") << 1;
    // Maps read shortly before are shared when they are equal: kind for kind.
    QTest::newRow("equal but for kinds") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":{"difficult":1}},{"attributes":{"difficult":1.0}},)"
        R"({"attributes":{"difficult":true}},{"attributes":{"difficult":"1"}},{"attributes":{"difficult":[1]}},)"
        R"({"attributes":{"difficult":[1.0]}},{"attributes":{"difficult":{"a":1}}},{"attributes":{"difficult":{"a":1.0}}},)"
        R"({"attributes":{"difficult":1}},{"attributes":{"difficult":1.0}},{"attributes":{"Difficult":1}}]}]}})") << 11;
    QTest::newRow("lenient forms inside") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":{"coco:area":3.,"coco:rle":{"counts":"a\qb"}}}]}]}})") << 1;
    QTest::newRow("nested as deep as a document may") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":{"deep":)" + QByteArray(1015, '[') + QByteArray(1015, ']') +
        "}}]}]}}") << 1;
    QTest::newRow("nested deeper than a document may") << QByteArray(
        R"({"dataset":{"images":[{"labels":[{"attributes":{"deep":)" + QByteArray(1030, '[') + QByteArray(1030, ']') +
        "}}]}]}}") << 0;
    QTest::newRow("invalid inside") << QByteArray(R"({"dataset":{"images":[{"labels":[{"attributes":{"iscrowd":01}}]}]}})")
                                    << 0;
    // Read in batches on several threads: the member in entries all through.
    QTest::newRow("many entries") << manyEntries(12000, [](int i) {
        if (i % 7 != 0)
            return entryMembers(i);
        return entryMembers(i) + ",\n                \"labels\": [{\"attributes\": {\"iscrowd\": 1, \"coco:area\": " +
               QByteArray::number(i) + ", \"difficult\": " + QByteArray::number(i % 3) +
               ", \"flags\": {\"k\": [true, null, \"s\"]}}, \"className\": \"c\"}]";
    }) << 1715;
}

// The parallel and the single reader take the member as reading the whole
// file as one document does, every value of the same kind.
void TestProjectFile::attributesReadAlike()
{
    QFETCH(QByteArray, text);
    QFETCH(int, kept);
    const QJsonDocument document = QJsonDocument::fromJson(text);
    const bool expectedOk = !document.isNull() && document.isObject();
    QTemporaryDir dir;
    const QString path = dir.filePath("in.qmk");
    QVERIFY(writeAll(path, text));
    Project read;
    QCOMPARE(loadProjectFile(read, path), expectedOk);
    if (!expectedOk)
        return;
    Project expected;
    expected.name = document.object().value("name").toString();
    expected.dataset = datasetFromJson(document.object().value("dataset").toObject());
    QCOMPARE(projectToJsonBytes(read), projectToJsonBytes(expected));
    const QList<QVariantMap> readAttributes = allAttributes(read.dataset);
    const QList<QVariantMap> expectedAttributes = allAttributes(expected.dataset);
    QCOMPARE(readAttributes.size(), expectedAttributes.size());
    for (qsizetype i = 0; i < readAttributes.size(); ++i)
        QVERIFY2(sameValue(readAttributes.at(i), expectedAttributes.at(i)), qPrintable(QString::number(i)));
    int withAttributes = 0;
    for (const ImageEntry &image : read.dataset.images) {
        for (const Annotation &a : image.labels)
            withAttributes += a.attributes.isEmpty() ? 0 : 1;
    }
    QCOMPARE(withAttributes, kept);
}

QM_TEST_MAIN(TestProjectFile)
#include "tst_projectfile.moc"
