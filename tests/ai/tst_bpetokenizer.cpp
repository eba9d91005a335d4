// The byte-level BPE tokenizer of the concept prompts, on small hand-made
// tokenizer files: the byte map, both forms of merges, the merge order, the
// CLIP-style end-of-word suffix with its pre-split, and the fixed-length rows.

#include "ai/BpeTokenizer.h"

#include "BoundedRun.h"
#include "QmTest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Quillmark;

namespace {

using Ids = std::vector<int>;

// The vocabulary text of a byte string: each byte as its stand-in code point.
QString mapped(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const char32_t cp = BpeTokenizer::byteToUnicode(static_cast<unsigned char>(c));
        text += QString::fromUcs4(&cp, 1);
    }
    return text;
}

class TokenizerFile {
public:
    explicit TokenizerFile(const QJsonObject &root)
    {
        QFile file(dir.filePath("tokenizer.json"));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(root).toJson());
    }
    QString path() const { return dir.filePath("tokenizer.json"); }

private:
    QTemporaryDir dir;
};

QJsonObject bpeRoot(const QJsonObject &vocab, const QJsonArray &merges, const QJsonObject &extraModel = {})
{
    QJsonObject model{{"type", "BPE"}, {"vocab", vocab}, {"merges", merges}};
    for (auto it = extraModel.begin(); it != extraModel.end(); ++it)
        model.insert(it.key(), it.value());
    return QJsonObject{{"model", model}};
}

// "hello" builds up through four merges; "he" and "ll" exist on their own.
const QJsonObject helloVocab{{"h", 1}, {"e", 2}, {"l", 3}, {"o", 4}, {"he", 5}, {"ll", 6},
                             {"hell", 7}, {"hello", 8}, {"<|startoftext|>", 900}, {"<|endoftext|>", 901}};

Ids tokens(const BpeTokenizer &tokenizer, const QString &text)
{
    return tokenizer.tokenize(text.toUtf8());
}

} // namespace

class TestBpeTokenizer : public QObject {
    Q_OBJECT

private slots:
    void byteMap()
    {
        struct Case { int byte; char32_t cp; };
        const Case cases[] = {{0, 256}, {32, 288}, {33, 33}, {126, 126}, {127, 289}, {160, 322},
                              {161, 161}, {172, 172}, {173, 323}, {174, 174}, {255, 255}};
        for (const Case &c : cases)
            QCOMPARE(BpeTokenizer::byteToUnicode(uchar(c.byte)), c.cp);
        // Every byte has its own stand-in.
        QSet<char32_t> seen;
        for (int b = 0; b < 256; ++b)
            seen.insert(BpeTokenizer::byteToUnicode(uchar(b)));
        QCOMPARE(seen.size(), 256);
    }

    void loadFailuresKeepTheLoadedFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        QTest::newRow("not json") << QByteArray("{ nope") << "Invalid JSON: %1";
        QTest::newRow("array") << QByteArray("[1, 2]") << "Invalid JSON: %1";
        QTest::newRow("empty") << QByteArray() << "Invalid JSON: %1";
        QTest::newRow("word piece") << QByteArray(R"({"model": {"type": "WordPiece", "vocab": {}}})")
                                    << "Expected BPE tokenizer, got: WordPiece";
        QTest::newRow("no type") << QByteArray(R"({"model": {"vocab": {"a": 1}}})") << "Expected BPE tokenizer, got: ";
        QTest::newRow("model not an object") << QByteArray(R"({"model": 7})") << "Expected BPE tokenizer, got: ";
    }

    void loadFailuresKeepTheLoadedFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);

        TokenizerFile good(bpeRoot(helloVocab, {"h e", "l l", "he ll", "hell o"}));
        BpeTokenizer tokenizer;
        QVERIFY(tokenizer.load(good.path()));
        QVERIFY(tokenizer.lastError().isEmpty());

        QTemporaryDir dir;
        const QString path = dir.filePath("bad.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QVERIFY(!tokenizer.load(path));
        QCOMPARE(tokenizer.lastError(), error.contains("%1") ? error.arg(path) : error);
        QVERIFY(tokenizer.isLoaded());
        QCOMPARE(tokens(tokenizer, "hello"), Ids{8});
        QCOMPARE(tokenizer.bosId(), 900);

        QVERIFY(!tokenizer.load(dir.filePath("missing.json")));
        QCOMPARE(tokenizer.lastError(), "Cannot open: " + dir.filePath("missing.json"));
    }

    // Merges as "L R" strings, as two-element arrays, or mixed, give the same
    // ids; an element of neither form takes its rank but merges nothing.
    void mergesInBothForms_data()
    {
        QTest::addColumn<QJsonArray>("merges");
        QTest::newRow("strings") << QJsonArray{"h e", "l l", "he ll", "hell o"};
        QTest::newRow("arrays") << QJsonArray{QJsonArray{"h", "e"}, QJsonArray{"l", "l"}, QJsonArray{"he", "ll"},
                                              QJsonArray{"hell", "o"}};
        QTest::newRow("mixed, with junk") << QJsonArray{"h e", 42, QJsonArray{"l", "l"}, QJsonArray{"x"}, "he ll",
                                                        QJsonArray{"hell", "o"}};
    }

    void mergesInBothForms()
    {
        QFETCH(QJsonArray, merges);
        TokenizerFile file(bpeRoot(helloVocab, merges));
        BpeTokenizer tokenizer;
        QVERIFY(tokenizer.load(file.path()));
        QCOMPARE(tokens(tokenizer, "hello"), Ids{8});
        QCOMPARE(tokens(tokenizer, "hell he"), (Ids{7, 5}));
        QCOMPARE(tokens(tokenizer, "lol"), (Ids{3, 4, 3}));
    }

    // The pair of lowest rank wins wherever it stands; the same pair twice is
    // merged left to right without overlap; a later duplicate of a merge takes
    // the later rank.
    void mergeOrder()
    {
        const QJsonObject vocab{{"a", 1}, {"b", 2}, {"c", 3}, {"ab", 4}, {"bc", 5}, {"aa", 6}, {"abc", 7}};
        {
            TokenizerFile file(bpeRoot(vocab, {"b c", "a b"}));
            BpeTokenizer tokenizer;
            QVERIFY(tokenizer.load(file.path()));
            QCOMPARE(tokens(tokenizer, "abc"), (Ids{1, 5}));
            QCOMPARE(tokens(tokenizer, "aaa"), (Ids{1, 1, 1}));
        }
        {
            TokenizerFile file(bpeRoot(vocab, {"b c", "a b", "a a", "b c"}));
            BpeTokenizer tokenizer;
            QVERIFY(tokenizer.load(file.path()));
            QCOMPARE(tokenizer.mergeCount(), 3);
            QCOMPARE(tokens(tokenizer, "abc"), (Ids{4, 3}));
            QCOMPARE(tokens(tokenizer, "aaa"), (Ids{6, 1}));
            QCOMPARE(tokens(tokenizer, "aaaa"), (Ids{6, 6}));
        }
    }

    // Without an end-of-word suffix: only A to Z are lowered, words split at
    // blanks, tabs and line ends only (punctuation stays in the word), and
    // symbols missing from the vocabulary are dropped.
    void plainWords()
    {
        QJsonObject vocab{{"c", 1}, {"a", 2}, {"r", 3}, {"ca", 4}, {"car", 5}, {",", 6}, {"car,", 7}};
        vocab.insert(mapped("é"), 20);
        vocab.insert(mapped("É"), 21);
        const auto split = [](const QString &text) { return QJsonArray{text.left(1), text.mid(1)}; };
        TokenizerFile file(bpeRoot(vocab, {"c a", "ca r", "car ,", split(mapped("é")), split(mapped("É"))}));
        BpeTokenizer tokenizer;
        QVERIFY(tokenizer.load(file.path()));
        QVERIFY(tokenizer.endOfWordSuffix().isEmpty());

        QCOMPARE(tokens(tokenizer, "Red Car"), tokens(tokenizer, "red car"));
        QCOMPARE(tokens(tokenizer, "CAR car"), (Ids{5, 5}));
        QCOMPARE(tokens(tokenizer, "car,"), Ids{7});
        QCOMPARE(tokens(tokenizer, " \tcar\r\n\n car "), (Ids{5, 5}));
        QCOMPARE(tokens(tokenizer, "é"), Ids{20});
        QCOMPARE(tokens(tokenizer, "É"), Ids{21});
        QCOMPARE(tokens(tokenizer, "xyz"), Ids{});
        QCOMPARE(tokens(tokenizer, "xcx"), Ids{1});
    }

    // A CLIP-style file: the suffix goes on each word's last symbol, words are
    // split as its pre-tokenizer says (letters, single digits, punctuation
    // runs) and its normaliser lowers all letters.
    void endOfWordSuffix()
    {
        QJsonObject vocab{{"c", 1},        {"a", 2},         {"t", 3},        {"ca", 4},      {"cat</w>", 10},
                          {"t</w>", 11},   {",</w>", 12},    {"1</w>", 13},   {"2</w>", 14},  {"s</w>", 15},
                          {"cats</w>", 16}, {"12</w>", 17},  {"<|startoftext|>", 49406}, {"<|endoftext|>", 49407}};
        vocab.insert(mapped("ä") + "</w>", 30);
        const QJsonArray merges{"c a", "ca t</w>", QJsonArray{"t", "s</w>"}, QJsonArray{"ca", "ts</w>"}, "1 2</w>",
                                QJsonArray{mapped("ä").left(1), mapped("ä").mid(1) + "</w>"}};
        const QJsonObject suffix{{"end_of_word_suffix", "</w>"}};
        const QString clipPattern = R"('s|'t|'re|'ve|'m|'ll|'d|[\p{L}]+|[\p{N}]|[^\s\p{L}\p{N}]+)";
        QJsonObject root = bpeRoot(vocab, merges, suffix);
        root.insert("normalizer", QJsonObject{{"type", "Sequence"},
                                              {"normalizers", QJsonArray{QJsonObject{{"type", "NFC"}},
                                                                         QJsonObject{{"type", "Lowercase"}}}}});
        root.insert("pre_tokenizer",
                    QJsonObject{{"type", "Sequence"},
                                {"pretokenizers",
                                 QJsonArray{QJsonObject{{"type", "Split"},
                                                        {"pattern", QJsonObject{{"Regex", clipPattern}}},
                                                        {"behavior", "Removed"},
                                                        {"invert", true}},
                                            QJsonObject{{"type", "ByteLevel"}}}}});
        TokenizerFile clip(root);
        BpeTokenizer tokenizer;
        QVERIFY(tokenizer.load(clip.path()));
        QCOMPARE(tokenizer.endOfWordSuffix(), QStringLiteral("</w>"));
        QCOMPARE(tokens(tokenizer, "Cat, CATS"), (Ids{10, 12, 16}));
        QCOMPARE(tokens(tokenizer, "cat12"), (Ids{10, 13, 14}));
        QCOMPARE(tokens(tokenizer, "Ä"), Ids{30});

        // The file's own pattern rules: here digits stay together.
        root.insert("pre_tokenizer", QJsonObject{{"type", "Split"},
                                                 {"pattern", QJsonObject{{"Regex", "[a-z]+|[0-9]+|[^a-z0-9\\s]+"}}}});
        TokenizerFile own(root);
        QVERIFY(tokenizer.load(own.path()));
        QCOMPARE(tokens(tokenizer, "cat12"), (Ids{10, 17}));

        // Without a pre-tokenizer the usual split; without a lower-casing
        // normaliser capitals stay.
        TokenizerFile bare(bpeRoot(vocab, merges, suffix));
        QVERIFY(tokenizer.load(bare.path()));
        QCOMPARE(tokens(tokenizer, "cat12"), (Ids{10, 13, 14}));
        QCOMPARE(tokens(tokenizer, "Cat"), (Ids{2, 11}));

        // A file without the suffix, same vocabulary: no symbol ends in "</w>".
        TokenizerFile plain(bpeRoot(vocab, merges));
        QVERIFY(tokenizer.load(plain.path()));
        QCOMPARE(tokens(tokenizer, "cat"), (Ids{4, 3}));
    }

    // The file's normaliser runs before the split: Unicode composition first,
    // whatever its place in the file, then the other steps in order. The ids
    // below are worked out by hand from the composed and the decomposed bytes
    // of "é" (C3 A9 against 65 CC 81).
    void normalisersOfTheFile_data()
    {
        QTest::addColumn<QJsonArray>("steps");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<Ids>("ids");
        const QJsonObject nfc{{"type", "NFC"}};
        const QJsonObject lower{{"type", "Lowercase"}};
        const Ids composed{1, 2, 3, 4, 5};
        const Ids decomposed{1, 2, 3, 9, 7, 8}; // "cafe" and the lone accent as a second word
        const QString typedApart = QStringLiteral("cafe\u0301");
        const QString typedWhole = QStringLiteral("caf\u00e9");
        QTest::newRow("accent typed apart") << QJsonArray{nfc, lower} << typedApart << composed;
        QTest::newRow("accent typed whole") << QJsonArray{nfc, lower} << typedWhole << composed;
        QTest::newRow("capitals apart, NFC listed last")
            << QJsonArray{lower, nfc} << QStringLiteral("CAFE\u0301") << composed;
        QTest::newRow("no composition declared") << QJsonArray{lower} << typedApart << decomposed;
        QTest::newRow("decomposition declared") << QJsonArray{QJsonObject{{"type", "NFD"}}} << typedWhole
                                                << decomposed;
        QTest::newRow("replacement after composition")
            << QJsonArray{QJsonObject{{"type", "Replace"},
                                      {"pattern", QJsonObject{{"String", QStringLiteral("\u00e9")}}},
                                      {"content", "e"}},
                          nfc}
            << typedApart << Ids{1, 2, 3, 9};
        QTest::newRow("blanks squeezed, stripped")
            << QJsonArray{nfc,
                          QJsonObject{{"type", "Replace"}, {"pattern", QJsonObject{{"Regex", "\\s+"}}}, {"content", " "}},
                          QJsonObject{{"type", "Strip"}, {"strip_left", true}, {"strip_right", true}}}
            << QStringLiteral("  cafe\u0301 ") << composed;
    }

    void normalisersOfTheFile()
    {
        QFETCH(QJsonArray, steps);
        QFETCH(QString, prompt);
        QFETCH(Ids, ids);
        const QByteArray whole = QStringLiteral("\u00e9").toUtf8();
        const QByteArray accent = QStringLiteral("\u0301").toUtf8();
        QCOMPARE(whole, QByteArray("\xC3\xA9"));
        QCOMPARE(accent, QByteArray("\xCC\x81"));
        QJsonObject vocab{{"c", 1}, {"a", 2}, {"f", 3}, {"e", 6}, {"e</w>", 9},
                          {"<|startoftext|>", 49406}, {"<|endoftext|>", 49407}};
        vocab.insert(mapped(whole.left(1)), 4);
        vocab.insert(mapped(whole.mid(1)) + "</w>", 5);
        vocab.insert(mapped(accent.left(1)), 7);
        vocab.insert(mapped(accent.mid(1)) + "</w>", 8);
        QJsonObject root = bpeRoot(vocab, {}, QJsonObject{{"end_of_word_suffix", "</w>"}});
        root.insert("normalizer", QJsonObject{{"type", "Sequence"}, {"normalizers", steps}});
        TokenizerFile file(root);
        BpeTokenizer tokenizer;
        QVERIFY(tokenizer.load(file.path()));
        QCOMPARE(tokens(tokenizer, prompt), ids);
    }

    // Only regular files are read: a named pipe would block for good, a
    // device never ends. Both are refused at once, without reading, in a
    // child process under a time and memory bound.
    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("folder") << "folder";
    }

    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("tokenizer.json");
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == "zero")
            QVERIFY(QFile::link("/dev/zero", path));
        else
            QVERIFY(QDir(dir.path()).mkdir("tokenizer.json"));
        const QmTest::BoundedResult result = QmTest::runBounded({3000, 32LL << 20}, [&]() -> QString {
            BpeTokenizer tokenizer;
            if (tokenizer.load(path))
                return QStringLiteral("loaded");
            return tokenizer.lastError() == "Cannot open: " + path ? QString() : tokenizer.lastError();
        });
        QVERIFY2(result.ok(), qPrintable(result.describe()));
        QVERIFY(result.bytesRead < 1024 * 1024);
    }

    void fixedLengthRows()
    {
        QJsonObject vocab = helloVocab;
        vocab.remove("<|startoftext|>");
        TokenizerFile file(bpeRoot(vocab, {"h e", "l l", "he ll", "hell o"}));
        BpeTokenizer tokenizer;

        // Nothing loaded: padding only.
        BpeTokenizer::Encoding row = tokenizer.encode("hello", 8);
        QCOMPARE(row.ids, std::vector<int64_t>(8, 0));
        QCOMPARE(row.mask, std::vector<int64_t>(8, 0));

        QVERIFY(tokenizer.load(file.path()));
        QCOMPARE(tokenizer.bosId(), 49406);
        QCOMPARE(tokenizer.eosId(), 901);
        row = tokenizer.encode("  ", 6);
        QCOMPARE(row.ids, (std::vector<int64_t>{49406, 901, 0, 0, 0, 0}));
        QCOMPARE(row.mask, (std::vector<int64_t>{1, 1, 0, 0, 0, 0}));
        row = tokenizer.encode("Hello he", 6);
        QCOMPARE(row.ids, (std::vector<int64_t>{49406, 8, 5, 901, 0, 0}));
        QCOMPARE(row.mask, (std::vector<int64_t>{1, 1, 1, 1, 0, 0}));

        // 40 tokens into 32: the first 30 stay and the end id closes the row.
        QStringList words;
        for (int i = 0; i < 40; ++i)
            words << (i % 2 ? "he" : "hello");
        row = tokenizer.encode(words.join(' '), 32);
        QCOMPARE(row.ids.size(), size_t(32));
        QCOMPARE(row.ids.front(), 49406);
        QCOMPARE(row.ids[1], 8);
        QCOMPARE(row.ids[30], 5);
        QCOMPARE(row.ids[31], 901);
        QCOMPARE(row.mask, std::vector<int64_t>(32, 1));
        // Exactly 30 tokens fit without a cut.
        words = words.mid(0, 30);
        QCOMPARE(tokenizer.encode(words.join(' '), 32).ids[31], 901);
    }
};

QM_TEST_MAIN(TestBpeTokenizer)
#include "tst_bpetokenizer.moc"
