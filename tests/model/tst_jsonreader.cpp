#include "DamagedJson.h"
#include "QmTest.h"

#include "formats/SafeRead.h"
#include "model/JsonLineReader.h"
#include "model/JsonParser.h"
#include "model/JsonStringPool.h"
#include "model/JsonText.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <random>

#include <sys/stat.h>

using namespace Quillmark;

class TestJsonReader : public QObject {
    Q_OBJECT
private slots:
    void agreesWithQt_data();
    void agreesWithQt();
    void damagedTextsAgreeWithStrictJson();
    void unreadValuesAreChecked_data();
    void unreadValuesAreChecked();
    void lenientAccessors_data();
    void lenientAccessors();
    void numbersAsTheQtReadersHaveThem();
    void valuesAreReadOnce();
    void pooledStrings();
    void numbersReadAtOnce_data();
    void numbersReadAtOnce();
    void valuesAsQtValues();
    void pieceOfLargerBuffer();
    void loadsOnlyRegularFiles();
    void loadBounds();
    void mapsLargeFiles();
    void lineReader_data();
    void lineReader();
    void lineReaderAcrossChunks();
    void overlongLines();
};

namespace {

// The document as our reader walks it, rebuilt as a Qt tree.
QJsonValue rebuild(JsonValue &value)
{
    switch (value.type()) {
    case JsonValue::Type::Null:
        value.skip();
        return QJsonValue(QJsonValue::Null);
    case JsonValue::Type::Bool:
        return value.toBool(false);
    case JsonValue::Type::Number:
        return value.toDouble(0.0);
    case JsonValue::Type::String:
        return value.toString();
    case JsonValue::Type::Array: {
        QJsonArray array;
        value.forEachElement([&](JsonValue &element) { array.append(rebuild(element)); });
        return array;
    }
    case JsonValue::Type::Object: {
        QJsonObject object;
        value.forEachMember([&](std::string_view key, JsonValue &member) {
            object.insert(QString::fromUtf8(key.data(), qsizetype(key.size())), rebuild(member));
        });
        return object;
    }
    case JsonValue::Type::Invalid:
        break;
    }
    return QJsonValue(QJsonValue::Undefined);
}

// Numbers as doubles: Qt keeps integers apart, the comparison should not.
QJsonValue canonical(const QJsonValue &value)
{
    if (value.isDouble())
        return value.toDouble();
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue &element : value.toArray())
            array.append(canonical(element));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object;
        const QJsonObject source = value.toObject();
        for (auto it = source.begin(); it != source.end(); ++it)
            object.insert(it.key(), canonical(it.value()));
        return object;
    }
    return value;
}

struct Reading {
    bool ok = false;
    QJsonValue tree;
};

Reading readOurs(const QByteArray &text)
{
    JsonParser parser;
    Reading reading;
    reading.ok = parser.parse(JsonText(text), [&](JsonValue &root) { reading.tree = rebuild(root); });
    return reading;
}

Reading readQt(const QByteArray &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    Reading reading;
    reading.ok = error.error == QJsonParseError::NoError && (document.isObject() || document.isArray());
    if (reading.ok)
        reading.tree = document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    return reading;
}

QByteArray printable(const QByteArray &text)
{
    return text.left(200).toPercentEncoding(" {}[]\":,");
}

QByteArray nested(int depth)
{
    return QByteArray(depth, '[') + QByteArray(depth, ']');
}

const QByteArray kRich =
    R"({"name": "caf\u00e9 \"q\" \\ \/ \b\f\n\r\t", "n": [0, -0, 1.5e3, -2.25E-2, 12345678901234567890123,
 9223372036854775807, 9223372036854775808, 1e-300], "t": true, "f": false, "z": null,
 "deep": {"a": [{"b": {"c": []}}, {}, [[], [{}]]]}, "utf8": "çiçek 🌼", "pair": "\ud83c\udf3c",
 "k\u0065y": 1, "dup": 1, "dup": [2]})";

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

// How our reading of a text relates to Qt's: the same, or, where Qt's reader
// strays from the JSON grammar, ours keeps to it.
enum class Relation { Same, QtAlsoTakesInvalid, QtRefusesValid };
Q_DECLARE_METATYPE(Relation)

void TestJsonReader::agreesWithQt_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Relation>("relation");
    const Relation same = Relation::Same;
    QTest::newRow("rich document") << kRich << same;
    QTest::newRow("array at the top") << QByteArray("[1, \"a\", {\"b\": null}]") << same;
    QTest::newRow("byte-order mark and blanks") << QByteArray("\xEF\xBB\xBF \r\n\t{ \"a\" : [ 1 , 2 ] }\n\n") << same;
    QTest::newRow("lone surrogate in a value") << QByteArray(R"({"a": "x\ud800y", "b": "\udc00"})") << same;
    QTest::newRow("1024 levels") << nested(1024) << same;
    QTest::newRow("1025 levels") << nested(1025) << same;
    QTest::newRow("empty containers") << QByteArray(R"({"a": {}, "b": [], "c": [{}], "": ""})") << same;
    QTest::newRow("repeated key: the last wins") << QByteArray(R"({"a": 1, "b": 2, "a": [3]})") << same;
    QTest::newRow("string at the top") << QByteArray(R"("name")") << same;
    QTest::newRow("number at the top") << QByteArray("1") << same;
    QTest::newRow("null at the top") << QByteArray("null") << same;
    QTest::newRow("empty text") << QByteArray() << same;
    QTest::newRow("blanks only") << QByteArray(" \n ") << same;
    QTest::newRow("trailing comma in array") << QByteArray(R"({"a":[{},]})") << same;
    QTest::newRow("trailing comma in object") << QByteArray(R"({"a":"b",})") << same;
    QTest::newRow("garbage after the document") << QByteArray(R"({"a":"b"} x)") << same;
    QTest::newRow("second document") << QByteArray(R"({"a":"b"} {})") << same;
    QTest::newRow("nul after the document") << QByteArray("{}\0", 3) << same;
    QTest::newRow("missing colon") << QByteArray(R"({"a" {}})") << same;
    QTest::newRow("missing comma") << QByteArray(R"({"a":[{} {}]})") << same;
    QTest::newRow("unterminated string") << QByteArray(R"({"a":"abc})") << same;
    QTest::newRow("escape at the very end") << QByteArray("{\"a\":\"abc\\") << same;
    QTest::newRow("bad unicode escape") << QByteArray(R"({"a":"\u12G4"})") << same;
    QTest::newRow("wrong closing bracket") << QByteArray(R"({"a":[{}}})") << same;
    QTest::newRow("unclosed object") << QByteArray(R"({"a":1)") << same;
    QTest::newRow("unclosed array") << QByteArray(R"([1,2)") << same;
    QTest::newRow("leading zero") << QByteArray(R"({"a":01})") << same;
    QTest::newRow("bare minus") << QByteArray(R"({"a":-})") << same;
    QTest::newRow("plus sign") << QByteArray(R"({"a":+1})") << same;
    QTest::newRow("number overflow") << QByteArray(R"({"a":1e400})") << same;
    QTest::newRow("invalid literal") << QByteArray(R"({"a":tru})") << same;
    QTest::newRow("literal run on") << QByteArray(R"({"a":truex})") << same;
    QTest::newRow("invalid UTF-8") << QByteArray("{\"a\":\"\xff\"}") << same;
    QTest::newRow("number glued to a string") << QByteArray(R"({"a":1"x"})") << same;
    QTest::newRow("key not a string") << QByteArray(R"({a:"b"})") << same;
    QTest::newRow("single quotes") << QByteArray(R"({'a':1})") << same;
    // Forms outside the grammar that Qt's reader lets through.
    QTest::newRow("unknown escape") << QByteArray(R"({"a":"\x41"})") << Relation::QtAlsoTakesInvalid;
    QTest::newRow("point without digits") << QByteArray(R"({"a":1.})") << Relation::QtAlsoTakesInvalid;
    QTest::newRow("control character in a string") << QByteArray("{\"a\": \"x\x01y\"}") << Relation::QtAlsoTakesInvalid;
    // A valid number too small for a double: zero, not an error.
    QTest::newRow("number underflow") << QByteArray(R"({"a":1e-400})") << Relation::QtRefusesValid;
}

void TestJsonReader::agreesWithQt()
{
    QFETCH(QByteArray, text);
    QFETCH(Relation, relation);
    const Reading qt = readQt(text);
    const Reading ours = readOurs(text);
    switch (relation) {
    case Relation::Same:
        QCOMPARE(ours.ok, qt.ok);
        if (qt.ok)
            QCOMPARE(canonical(ours.tree), canonical(qt.tree));
        break;
    case Relation::QtAlsoTakesInvalid:
        QVERIFY(qt.ok);
        QVERIFY(!ours.ok);
        break;
    case Relation::QtRefusesValid:
        QVERIFY(!qt.ok);
        QVERIFY(ours.ok);
        QCOMPARE(ours.tree.toObject().value("a").toDouble(-1.0), 0.0);
        break;
    }
}

// Damaged copies of a rich document, read by us and by Python's json module
// (strict JSON): both must agree on whether each is JSON and on what it holds.
void TestJsonReader::damagedTextsAgreeWithStrictJson()
{
    if (!QFileInfo::exists(QM_PYTHON))
        QSKIP("no Python interpreter at " QM_PYTHON);
    const QByteArray alphabet = "{}[],:\"\\ 0123456789.eE+-tfnul\xc3\xa7\xff\x01";
    const QList<QByteArray> texts = QmTest::damagedCopies({kRich}, 3000, 7u, alphabet);
    const QList<QByteArray> verdicts = QmTest::strictJsonVerdicts(texts);
    QCOMPARE(verdicts.size(), texts.size());
    int accepted = 0;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const Reading ours = readOurs(texts.at(i));
        const bool strictOk = verdicts.at(i).startsWith("ok ");
        QVERIFY2(ours.ok == strictOk, printable(texts.at(i)).constData());
        if (!strictOk)
            continue;
        ++accepted;
        const QJsonDocument reference = QJsonDocument::fromJson(verdicts.at(i).mid(3));
        const QJsonValue tree = reference.isObject() ? QJsonValue(reference.object()) : QJsonValue(reference.array());
        QVERIFY2(canonical(ours.tree) == canonical(tree), printable(texts.at(i)).constData());
    }
    // The damage must leave both kinds of text in good numbers.
    QVERIFY(accepted > 300 && accepted < 2700);
}

void TestJsonReader::unreadValuesAreChecked_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("valid") << QByteArray(R"({"a": 1, "b": [1, {"c": "d\n"}], "e": null})") << true;
    QTest::newRow("bad number in an unread member") << QByteArray(R"({"a": 1, "b": [1, 01]})") << false;
    QTest::newRow("bad literal in an unread member") << QByteArray(R"({"a": 1, "b": {"c": nul}})") << false;
    QTest::newRow("bad escape in an unread member") << QByteArray(R"({"a": 1, "b": "\q"})") << false;
    QTest::newRow("trailing comma in an unread member") << QByteArray(R"({"a": 1, "b": [1,]})") << false;
    QTest::newRow("unread member too deep") << QByteArray("{\"a\": 1, \"b\": " + nested(1030) + "}") << false;
}

// A reader that takes one member and leaves the rest must still refuse a text
// that is not JSON, as a reader building the whole tree would.
void TestJsonReader::unreadValuesAreChecked()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    JsonParser parser;
    int a = 0;
    const bool ok = parser.parse(JsonText(text), [&](JsonValue &root) {
        root.forEachMember([&](std::string_view key, JsonValue &value) {
            if (key == "a")
                a = value.toInt(0);
        });
    });
    QCOMPARE(ok, valid);
    QCOMPARE(a, 1);
}

void TestJsonReader::lenientAccessors_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<double>("asDouble");
    QTest::addColumn<qint64>("asInt64");
    QTest::addColumn<int>("asInt");
    QTest::addColumn<QString>("asString");
    const qint64 noInt64 = -77;
    const int noInt = -7;
    QTest::newRow("integer") << QByteArray("42") << 42.0 << qint64(42) << 42 << "fallback";
    QTest::newRow("integral real") << QByteArray("3.0") << 3.0 << qint64(3) << 3 << "fallback";
    QTest::newRow("exponent") << QByteArray("1e2") << 100.0 << qint64(100) << 100 << "fallback";
    QTest::newRow("fraction") << QByteArray("-1.5") << -1.5 << noInt64 << noInt << "fallback";
    QTest::newRow("beyond int") << QByteArray("2147483648") << 2147483648.0 << qint64(2147483648LL) << noInt
                                << "fallback";
    QTest::newRow("largest int64") << QByteArray("9223372036854775807") << 9223372036854775807.0
                                   << qint64(9223372036854775807LL) << noInt << "fallback";
    QTest::newRow("beyond int64") << QByteArray("9223372036854775808") << 9223372036854775808.0 << noInt64 << noInt
                                  << "fallback";
    QTest::newRow("smallest int64") << QByteArray("-9223372036854775808") << -9223372036854775808.0
                                    << qint64(std::numeric_limits<qint64>::min()) << noInt << "fallback";
    QTest::newRow("beyond 64 bits") << QByteArray("123456789012345678901234567890") << 1.2345678901234568e29 << noInt64
                                    << noInt << "fallback";
    // As a double this is -2^63 exactly, the smallest int64, as Qt's reader has it too.
    QTest::newRow("just below int64") << QByteArray("-9223372036854775809") << -9223372036854775808.0
                                      << qint64(std::numeric_limits<qint64>::min()) << noInt << "fallback";
    QTest::newRow("far below int64") << QByteArray("-9223372036854777856") << -9223372036854777856.0 << noInt64 << noInt
                                     << "fallback";
    QTest::newRow("string") << QByteArray("\"7\"") << -1.0 << noInt64 << noInt << "7";
    QTest::newRow("escaped string") << QByteArray(R"("a\u00e7\"")") << -1.0 << noInt64 << noInt
                                    << QString::fromUtf8("aç\"");
    QTest::newRow("null") << QByteArray("null") << -1.0 << noInt64 << noInt << "fallback";
    QTest::newRow("true") << QByteArray("true") << -1.0 << noInt64 << noInt << "fallback";
    QTest::newRow("array") << QByteArray("[1]") << -1.0 << noInt64 << noInt << "fallback";
    QTest::newRow("object") << QByteArray(R"({"a":1})") << -1.0 << noInt64 << noInt << "fallback";
}

void TestJsonReader::lenientAccessors()
{
    QFETCH(QByteArray, value);
    QFETCH(double, asDouble);
    QFETCH(qint64, asInt64);
    QFETCH(int, asInt);
    QFETCH(QString, asString);
    // The same value four times, each read by one accessor.
    const QByteArray text = "[" + value + "," + value + "," + value + "," + value + "]";
    JsonParser parser;
    double d = 0;
    qint64 i64 = 0;
    int i = 0;
    QString s;
    int index = 0;
    QVERIFY(parser.parse(JsonText(text), [&](JsonValue &root) {
        root.forEachElement([&](JsonValue &element) {
            switch (index++) {
            case 0:
                d = element.toDouble(-1.0);
                break;
            case 1:
                i64 = element.toInt64(-77);
                break;
            case 2:
                i = element.toInt(-7);
                break;
            default:
                s = element.toString(QStringLiteral("fallback"));
                break;
            }
        });
    }));
    QCOMPARE(d, asDouble);
    QCOMPARE(i64, asInt64);
    QCOMPARE(i, asInt);
    QCOMPARE(s, asString);
}

// The readers that move onto this layer read numbers through SafeRead's
// QJsonValue accessors today; the layer's accessors must give the same.
void TestJsonReader::numbersAsTheQtReadersHaveThem()
{
    const QList<QByteArray> numbers = {"0",
                                       "-0",
                                       "7",
                                       "-7",
                                       "3.0",
                                       "3.5",
                                       "1e2",
                                       "1E-2",
                                       "2147483647",
                                       "2147483648",
                                       "-2147483648",
                                       "-2147483649",
                                       "9007199254740993",
                                       "9223372036854775807",
                                       "9223372036854775808",
                                       "-9223372036854775808",
                                       "-9223372036854775809",
                                       "18446744073709551615",
                                       "18446744073709551616",
                                       "1e19",
                                       "-1e19",
                                       "1e300",
                                       "123456789012345678901234567890",
                                       "0.1",
                                       "2.5e-3",
                                       "\"5\"",
                                       "null",
                                       "true",
                                       "[]",
                                       "{}"};
    for (const QByteArray &number : numbers) {
        const QByteArray text = "[" + number + "," + number + "," + number + "]";
        const QJsonArray qt = QJsonDocument::fromJson(text).array();
        QCOMPARE(qt.size(), 3);
        JsonParser parser;
        int index = 0;
        QVERIFY(parser.parse(JsonText(text), [&](JsonValue &root) {
            root.forEachElement([&](JsonValue &element) {
                switch (index++) {
                case 0: {
                    bool ours = false;
                    bool theirs = false;
                    const qint64 value = element.toInt64(-77, &ours);
                    QCOMPARE(value, jsonInt64(qt.at(0), -77, &theirs));
                    QCOMPARE(ours, theirs);
                    break;
                }
                case 1:
                    QCOMPARE(element.toInt(-7), jsonInt(qt.at(1), -7));
                    break;
                default:
                    QCOMPARE(element.toDouble(-1.5), jsonDouble(qt.at(2), -1.5));
                    break;
                }
            });
        }));
        if (QTest::currentTestFailed())
            qWarning() << "number" << number;
    }
}

void TestJsonReader::valuesAreReadOnce()
{
    JsonParser parser;
    QString first;
    QString second;
    QByteArrayView raw;
    QByteArray bytes;
    const JsonText text(QByteArray(R"({"a": "x", "b": "p\/q", "c": "y\u00e7"})"));
    QVERIFY(parser.parse(text, [&](JsonValue &root) {
        root.forEachMember([&](std::string_view key, JsonValue &value) {
            if (key == "a") {
                first = value.toString();
                second = value.toString(QStringLiteral("again"));
            } else if (key == "b") {
                raw = value.rawString();
            } else {
                bytes = value.toUtf8();
            }
        });
    }));
    QCOMPARE(first, QStringLiteral("x"));
    QCOMPARE(second, QStringLiteral("again"));
    QCOMPARE(raw, QByteArrayView("p\\/q"));
    QCOMPARE(bytes, QByteArray("y\xc3\xa7"));
}

// Strings read through a pool: equal texts share one string, and every one
// reads as toString() would read it, escapes and lone surrogates included.
void TestJsonReader::pooledStrings()
{
    JsonParser parser;
    JsonStringPool pool;
    QStringList pooled;
    QStringList plain;
    const QByteArray elements = R"("cat", "dog", "cat", "c\u0061t", "\ud800x", "\ud800x", "", 7, "dog")";
    QVERIFY(parser.parse(JsonText("[" + elements + "," + elements + "]"), [&](JsonValue &root) {
        int i = 0;
        root.forEachElement([&](JsonValue &element) {
            if (i++ < 9)
                pooled.append(element.toString(pool, QStringLiteral("none")));
            else
                plain.append(element.toString(QStringLiteral("none")));
        });
    }));
    QCOMPARE(pooled, plain);
    QCOMPARE(pooled.at(0).constData(), pooled.at(2).constData()); // one shared copy
    QCOMPARE(pooled.at(1).constData(), pooled.at(8).constData());
    QCOMPARE(pooled.at(3), QStringLiteral("cat")); // another text, the same string
    QCOMPARE(pooled.at(4).at(0).unicode(), char16_t(0xD800));
    QCOMPARE(pooled.at(7), QStringLiteral("none"));
}

// Arrays of coordinates read at once: numbers as toDouble() reads them, any
// other element as the fallback; a bad number anywhere still fails the text.
void TestJsonReader::numbersReadAtOnce_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QList<double>>("numbers");
    QTest::newRow("numbers") << QByteArray("[1, -2.5, 3e2, 0]") << true << QList<double>{1, -2.5, 300, 0};
    QTest::newRow("other elements")
        << QByteArray(R"([1, "2", null, [3], {"a": 4}, true, 1e-400])") << true << QList<double>{1, -1, -1, -1, -1, -1, 0};
    QTest::newRow("empty") << QByteArray("[]") << true << QList<double>{};
    QTest::newRow("not an array") << QByteArray("{\"a\": [1]}") << true << QList<double>{};
    QTest::newRow("bad number") << QByteArray("[1, 01]") << false << QList<double>{};
    QTest::newRow("bad element") << QByteArray("[1, [tru]]") << false << QList<double>{};
    QTest::newRow("number too large") << QByteArray("[1e400]") << false << QList<double>{};
}

void TestJsonReader::numbersReadAtOnce()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, valid);
    QFETCH(QList<double>, numbers);
    JsonParser parser;
    std::vector<double> read;
    bool after = false;
    const bool ok = parser.parse(JsonText("[" + value + ", true]"), [&](JsonValue &root) {
        int i = 0;
        root.forEachElement([&](JsonValue &element) {
            if (i++ == 0)
                element.appendNumbers(read, -1.0);
            else
                after = element.toBool(false);
        });
    });
    QCOMPARE(ok, valid);
    QCOMPARE(after, valid); // the element after it is read when the text is valid
    if (valid) // otherwise what was read counts as lost
        QCOMPARE(QList<double>(read.begin(), read.end()), numbers);
}

// Members kept whole come out as Qt's reader has them: integers stay
// integers, other numbers are doubles.
void TestJsonReader::valuesAsQtValues()
{
    const QByteArray text = R"({"i": 3, "r": 3.0, "e": 1e2, "big": 18446744073709551615, "s": "x\u00e7",
        "a": [1, null, true, {"k": -0}], "o": {"n": {"m": []}}})";
    JsonParser parser;
    QJsonObject ours;
    QVERIFY(parser.parse(JsonText(text), [&](JsonValue &root) { ours = root.toQJsonValue().toObject(); }));
    const QJsonObject qt = QJsonDocument::fromJson(text).object();
    QCOMPARE(ours, qt);
    for (const QString &key : qt.keys())
        QCOMPARE(ours.value(key).toVariant().typeId(), qt.value(key).toVariant().typeId());
}

// A document that is only a piece of a larger buffer, as the lines of a
// JSON Lines file or the pieces of a huge file are: what follows it is not
// part of it, and without room after it the piece is copied.
void TestJsonReader::pieceOfLargerBuffer()
{
    const QByteArray buffer = R"({"a": [1, 2]}{"a": 12345678)";
    const QByteArrayView first(buffer.constData(), 13);
    const QByteArrayView second(buffer.constData() + 13, buffer.size() - 13);
    JsonParser parser;
    int count = 0;
    auto countElements = [&](JsonValue &root) {
        root.forEachMember(
            [&](std::string_view, JsonValue &value) { value.forEachElement([&](JsonValue &) { ++count; }); });
    };
    QVERIFY(parser.parse(first, buffer.size() - 13, countElements));
    QCOMPARE(count, 2);
    QVERIFY(parser.parse(first, 0, countElements));
    QCOMPARE(count, 4);
    QVERIFY(!parser.parse(second, 0, countElements));
}

void TestJsonReader::loadsOnlyRegularFiles()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("a.json");
    QVERIFY(writeFile(file, "{\"a\": 1}"));
    JsonText text;
    QVERIFY(text.load(file, 1 << 20));
    QCOMPARE(text.bytes(), QByteArrayView("{\"a\": 1}"));

    const QString link = dir.filePath("link.json");
    QVERIFY(QFile::link(file, link));
    QVERIFY(text.load(link, 1 << 20));
    QCOMPARE(text.size(), 8);

    QVERIFY(!text.load(dir.path(), 1 << 20));
    QCOMPARE(text.size(), 0);
    QVERIFY(!text.load(dir.filePath("missing.json"), 1 << 20));
    // A named pipe would block the reader until someone writes to it.
    const QString fifo = dir.filePath("pipe.json");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!text.load(fifo, 1 << 20));
    JsonLineReader lines;
    QVERIFY(!lines.open(fifo));
    QCOMPARE(JsonLineReader::countLines(fifo), qint64(-1));
    QVERIFY(!text.load(QStringLiteral("/dev/zero"), 1 << 20));
}

void TestJsonReader::loadBounds()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("a.json");
    QVERIFY(writeFile(file, QByteArray(100, ' ')));
    JsonText text;
    QVERIFY(text.load(file, 100));
    QVERIFY(!text.load(file, 99));
    QVERIFY(writeFile(file, QByteArray()));
    QVERIFY(text.load(file, 100));
    QCOMPARE(text.size(), 0);
    JsonParser parser;
    QVERIFY(!parser.parse(text, [](JsonValue &) {}));
}

// Large files are mapped rather than copied where the padding fits behind the
// end of the file in its last page; elsewhere they are read.
void TestJsonReader::mapsLargeFiles()
{
    QTemporaryDir dir(QDir::currentPath() + "/map-XXXXXX");
    QVERIFY(dir.isValid());
    const qint64 base = 64LL * 1024 * 1024;
    struct Case {
        qint64 size;
        bool mapped;
    };
    for (const Case &c : {Case{base + 100, true}, Case{base + 4096 - 10, false}, Case{base + 4096, false}}) {
        const QString path = dir.filePath("big.json");
        QByteArray bytes(qsizetype(c.size), ' ');
        bytes[0] = '[';
        bytes[bytes.size() - 3] = '7';
        bytes[bytes.size() - 1] = ']';
        QVERIFY(writeFile(path, bytes));
        JsonText text;
        QVERIFY(text.load(path, c.size, JsonText::Mapping::IfLarge));
        QCOMPARE(text.isMapped(), c.mapped);
        QCOMPARE(text.size(), qsizetype(c.size));
        JsonParser parser;
        int seven = 0;
        QVERIFY(parser.parse(text, [&](JsonValue &root) {
            root.forEachElement([&](JsonValue &element) { seven = element.toInt(0); });
        }));
        QCOMPARE(seven, 7);
    }
}

void TestJsonReader::lineReader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("one line") << QByteArray("{}\n") << QList<QByteArray>{"{}"};
    QTest::newRow("no final line end") << QByteArray("a\nb") << QList<QByteArray>{"a", "b"};
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QList<QByteArray>{"a", "b"};
    QTest::newRow("blank lines") << QByteArray("\n\na\n\n") << QList<QByteArray>{"", "", "a", ""};
    QTest::newRow("lone line end") << QByteArray("\n") << QList<QByteArray>{""};
    QTest::newRow("carriage return last") << QByteArray("a\n\r") << QList<QByteArray>{"a", ""};
}

void TestJsonReader::lineReader()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<QByteArray>, lines);
    QTemporaryDir dir;
    const QString path = dir.filePath("a.jsonl");
    QVERIFY(writeFile(path, content));
    JsonLineReader reader;
    QVERIFY(reader.open(path));
    QList<QByteArray> read;
    QByteArrayView line;
    while (reader.next(&line))
        read.append(line.toByteArray());
    QVERIFY(!reader.hasError());
    QCOMPARE(read, lines);
    QCOMPARE(JsonLineReader::countLines(path), qint64(lines.size()));
}

// Lines of every length, some far longer than the reader's buffer, each
// parsed in place.
void TestJsonReader::lineReaderAcrossChunks()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.jsonl");
    std::mt19937 random(3u);
    QByteArray content;
    QList<int> lengths;
    for (int i = 0; i < 400; ++i) {
        const int length = i % 97 == 0 ? 3 * (1 << 20) + i : int(random() % 20000);
        lengths.append(length);
        content += "{\"i\": " + QByteArray::number(i) + ", \"s\": \"" + QByteArray(length, 'x') + "\"}";
        content += i % 2 ? "\r\n" : "\n";
    }
    QVERIFY(writeFile(path, content));
    JsonLineReader reader;
    QVERIFY(reader.open(path));
    JsonParser parser;
    QByteArrayView line;
    int count = 0;
    while (reader.next(&line)) {
        int index = -1;
        qsizetype length = -1;
        QVERIFY(parser.parse(line, JsonText::padding, [&](JsonValue &root) {
            root.forEachMember([&](std::string_view key, JsonValue &value) {
                if (key == "i")
                    index = value.toInt(-1);
                else
                    length = value.rawString().size();
            });
        }));
        QCOMPARE(index, count);
        QCOMPARE(length, qsizetype(lengths.at(count)));
        ++count;
    }
    QCOMPARE(count, 400);
    QCOMPARE(JsonLineReader::countLines(path), qint64(400));
}

void TestJsonReader::overlongLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.jsonl");
    QVERIFY(writeFile(path, "short\n" + QByteArray(40, 'x') + "\nend\n" + QByteArray(40, 'y')));
    JsonLineReader reader(16);
    QVERIFY(reader.open(path));
    QList<QByteArray> read;
    QByteArrayView line;
    while (reader.next(&line))
        read.append(line.toByteArray());
    QCOMPARE(read, (QList<QByteArray>{"short", "", "end", ""}));
    QCOMPARE(JsonLineReader::countLines(path), qint64(4));
}

QM_TEST_MAIN(TestJsonReader)
#include "tst_jsonreader.moc"
