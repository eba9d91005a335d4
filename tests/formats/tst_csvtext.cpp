#include "QmTest.h"

#include "YoloFamilyTestSupport.h"

#include "formats/CsvText.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace Quillmark;
using namespace FormatTest;

using Records = QList<QStringList>;

// The CSV toolkit shared by the CSV formats: quoting only where a field needs
// it, and a reader that follows quotes across commas and line breaks.
class TestCsvText : public QObject {
    Q_OBJECT
private slots:
    void fieldQuoting_data();
    void fieldQuoting();
    void reading_data();
    void reading();
    void countLines_data();
    void countLines();
    void datasetFile();
    void pythonReadsOurRows();
    void weReadPythonRows();
};

void TestCsvText::fieldQuoting_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "cat"
                           << "cat";
    QTest::newRow("inner space") << "traffic light"
                                 << "traffic light";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("non-ASCII") << QString::fromUtf8("çiçek") << QString::fromUtf8("çiçek");
    QTest::newRow("comma") << "a, b"
                           << "\"a, b\"";
    QTest::newRow("quote") << "say \"hi\""
                           << "\"say \"\"hi\"\"\"";
    QTest::newRow("line feed") << "two\nlines"
                               << "\"two\nlines\"";
    QTest::newRow("carriage return") << "a\rb"
                                     << "\"a\rb\"";
    QTest::newRow("leading space") << " cat"
                                   << "\" cat\"";
    QTest::newRow("trailing tab") << "cat\t"
                                  << "\"cat\t\"";
}

void TestCsvText::fieldQuoting()
{
    QFETCH(QString, field);
    QFETCH(QString, written);
    QCOMPARE(csvField(field), written);
    QCOMPARE(csvRow({field, "x"}), (written + ",x").toUtf8());
}

void TestCsvText::reading_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Records>("records");
    QTest::addColumn<int>("lines");
    QTest::newRow("plain") << QByteArray("a,b\n1,2\n") << Records{{"a", "b"}, {"1", "2"}} << 2;
    QTest::newRow("CRLF, no final line end") << QByteArray("a,b\r\n1,2") << Records{{"a", "b"}, {"1", "2"}} << 2;
    QTest::newRow("byte-order mark, spaced cells") << QByteArray("\xEF\xBB\xBF"
                                                                 "filename, cat ,dog\n")
                                                   << Records{{"filename", "cat", "dog"}} << 1;
    QTest::newRow("quoted comma and quotes")
        << QByteArray("\"a,b\",\"say \"\"hi\"\"\"\n") << Records{{"a,b", "say \"hi\""}} << 1;
    QTest::newRow("quoted line break") << QByteArray("\"two\nlines\",x\nnext\n")
                                       << Records{{"two\nlines", "x"}, {"next"}} << 3;
    QTest::newRow("quoted CRLF kept") << QByteArray("\"a\r\nb\"\r\n") << Records{{"a\r\nb"}} << 2;
    QTest::newRow("quoted spaces kept") << QByteArray("\" keep \",  trim  \n") << Records{{" keep ", "trim"}} << 1;
    QTest::newRow("blanks around quotes") << QByteArray("  \"q\"  ,x\n") << Records{{"q", "x"}} << 1;
    QTest::newRow("text after closing quote") << QByteArray("\"a\"b,c\n") << Records{{"ab", "c"}} << 1;
    // A quote still open at the end makes the text damaged: the rows it
    // swallowed are not handed out as one field.
    QTest::newRow("unterminated quote") << QByteArray("x,\"open,quote\nmore") << Records{} << 1;
    QTest::newRow("unterminated quote, final line end") << QByteArray("\"a\n") << Records{} << 1;
    QTest::newRow("empty cells") << QByteArray("a,,\n,\n") << Records{{"a", "", ""}, {"", ""}} << 2;
    QTest::newRow("blank line") << QByteArray("a\n\nb\n") << Records{{"a"}, {""}, {"b"}} << 3;
    QTest::newRow("quote inside unquoted field") << QByteArray("5\" tall,x\n") << Records{{"5\" tall", "x"}} << 1;
    QTest::newRow("empty text") << QByteArray() << Records{} << 0;
}

void TestCsvText::reading()
{
    QFETCH(QByteArray, text);
    QFETCH(Records, records);
    QFETCH(int, lines);
    CsvReader reader(text);
    Records read;
    QStringList fields;
    while (reader.next(&fields)) {
        read.append(fields);
        QVERIFY(reader.linesRead() <= CsvReader::countLines(text));
    }
    QCOMPARE(read, records);
    QCOMPARE(reader.linesRead(), lines);
}

void TestCsvText::countLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("one, no line end") << QByteArray("a") << 1;
    QTest::newRow("one") << QByteArray("a\n") << 1;
    QTest::newRow("blank lines count") << QByteArray("a\n\n\nb\r\n") << 4;
}

void TestCsvText::countLines()
{
    QFETCH(QByteArray, text);
    QFETCH(int, lines);
    QCOMPARE(CsvReader::countLines(text), lines);
}

void TestCsvText::datasetFile()
{
    QCOMPARE(csvDatasetFile("/d/x.CSV", "_annotations.csv"), QStringLiteral("/d/x.CSV"));
    QCOMPARE(csvDatasetFile("/d/x.csv", "_annotations.csv"), QStringLiteral("/d/x.csv"));
    QCOMPARE(csvDatasetFile("/d/set", "_annotations.csv"), QStringLiteral("/d/set/_annotations.csv"));
    QCOMPARE(csvDatasetFile("/d/set.csv.d", "_classes.csv"), QStringLiteral("/d/set.csv.d/_classes.csv"));
}

namespace {

const Records kAwkwardRows = {
    {"filename", "a, b", "say \"hi\"", "two\nlines", " padded ", QString::fromUtf8("çiçek"), ""},
    {"img 1.jpg", "1", "0", "1", "0", "1", "0"},
};

QString json(const Records &rows)
{
    QJsonArray array;
    for (const QStringList &row : rows)
        array.append(QJsonArray::fromStringList(row));
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

void TestCsvText::pythonReadsOurRows()
{
    QTemporaryDir dir;
    QByteArray text;
    for (const QStringList &row : kAwkwardRows)
        text += csvRow(row) + "\n";
    QVERIFY(writeFile(dir.filePath("ours.csv"), text));
    runPythonCheck("check_csv.py", {"read", dir.filePath("ours.csv"), json(kAwkwardRows)});
}

void TestCsvText::weReadPythonRows()
{
    QTemporaryDir dir;
    runPythonCheck("check_csv.py", {"write", dir.filePath("theirs.csv"), json(kAwkwardRows)});
    const QByteArray text = readFile(dir.filePath("theirs.csv"));
    QVERIFY(text.contains("\r\n"));
    CsvReader reader(text);
    Records read;
    QStringList fields;
    while (reader.next(&fields))
        read.append(fields);
    // Python leaves " padded " unquoted; cells that are not quoted are
    // trimmed, as the formats' readers trim every cell.
    Records expected = kAwkwardRows;
    expected[0][4] = "padded";
    QCOMPARE(read, expected);
}

QM_TEST_MAIN(TestCsvText)
#include "tst_csvtext.moc"
