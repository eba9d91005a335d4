// The source tree keeps its layers: no file includes a header of a layer above
// its own, the core library's folders use no Qt Widgets, and every folder that
// holds sources belongs to exactly one library in src/CMakeLists.txt.
//
// Layers, from the bottom (see src/README.md):
//   0 model
//   1 formats, ai, video, update   (core; may include each other)
//   2 canvas                       (widgets; handed its colours, includes no bar or dialog)
//   3 panels, chrome, dialogs, formats/ui, ai/ui (widgets; may include each other)
//   4 app

#include "QmTest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

namespace {

struct Layer {
    int rank;
    bool widgets;
};

// Each folder of src/ that holds sources, with its layer and its library.
const QMap<QString, Layer> &layers()
{
    static const QMap<QString, Layer> table = {
        {QStringLiteral("model"), {0, false}},   {QStringLiteral("formats"), {1, false}},
        {QStringLiteral("ai"), {1, false}},      {QStringLiteral("video"), {1, false}},
        {QStringLiteral("update"), {1, false}},  {QStringLiteral("canvas"), {2, true}},
        {QStringLiteral("panels"), {3, true}},   {QStringLiteral("chrome"), {3, true}},
        {QStringLiteral("dialogs"), {3, true}},  {QStringLiteral("formats/ui"), {3, true}},
        {QStringLiteral("ai/ui"), {3, true}},    {QStringLiteral("app"), {4, true}},
    };
    return table;
}

// Layers whose folders sit side by side and may include one another.
bool sidesMayMeet(int rank)
{
    return rank == 1 || rank == 3;
}

// The folder part of a path relative to src/: "ai/ui/AiSegDialog.h" -> "ai/ui".
QString folderOf(const QString &relativePath)
{
    const int slash = relativePath.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relativePath.left(slash);
}

// Whether a file of folder `from` may include a header of folder `to`.
bool includeAllowed(const QString &from, const QString &to)
{
    if (from == to)
        return true;
    const Layer source = layers().value(from, {-1, false});
    const Layer target = layers().value(to, {99, true});
    if (target.rank < source.rank)
        return true;
    return target.rank == source.rank && sidesMayMeet(source.rank);
}

// The Qt Widgets module's own headers: the module's folder lists them; names that
// Qt Gui or Qt Core also provide (QAction, QUndoStack, QShortcut, ...) are theirs.
QSet<QString> widgetsHeaderNames()
{
    const QString qtRoot = QStringLiteral(QM_QT_INCLUDE_DIR);
    const QDir widgets(qtRoot + QStringLiteral("/QtWidgets"));
    QSet<QString> names;
    for (const QString &name : widgets.entryList(QDir::Files)) {
        const bool shared = QFileInfo::exists(qtRoot + QStringLiteral("/QtGui/") + name)
                            || QFileInfo::exists(qtRoot + QStringLiteral("/QtCore/") + name);
        if (!shared)
            names.insert(name.toLower());
    }
    return names;
}

// Whether an include of a system header reaches Qt Widgets: <QtWidgets>,
// <QtWidgets/...>, or a header name of that module (<QWidget>, <qdialog.h>).
bool isWidgetsHeader(const QString &header, const QSet<QString> &widgetsNames)
{
    if (header == QLatin1String("QtWidgets") || header.startsWith(QLatin1String("QtWidgets/")))
        return true;
    return widgetsNames.contains(header.toLower());
}

struct Include {
    QString header;
    bool quoted;
    int line;
};

QList<Include> includesOf(const QString &path)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])"));
    QList<Include> result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return result;
    int number = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        ++number;
        const QRegularExpressionMatch match = pattern.match(line);
        if (match.hasMatch())
            result.append({match.captured(2), match.captured(1) == QLatin1String("\""), number});
    }
    return result;
}

// Every C++ source and header under src/, as a path relative to src/.
QStringList sourceFiles()
{
    const QDir src(QStringLiteral(QM_SOURCE_DIR));
    QStringList files;
    QDirIterator it(src.path(), {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.h.in")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(src.relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The folders a `set(<name> ...)` line of src/CMakeLists.txt lists.
QStringList cmakeFolderList(const QString &name)
{
    QFile file(QStringLiteral(QM_SOURCE_DIR "/CMakeLists.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    const QRegularExpression pattern(QStringLiteral(R"(set\(%1\s+([^)]*)\))").arg(QRegularExpression::escape(name)));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)
                            : QStringList();
}

} // namespace

class TestSourceLayers : public QObject {
    Q_OBJECT

private slots:
    void includeRule_data();
    void includeRule();
    void widgetsHeaders_data();
    void widgetsHeaders();
    void everyFolderHasALayerAndOneLibrary();
    void noIncludeReachesUp();
    void coreUsesNoWidgets();
};

// The rule itself, so that a table edit that loosens it shows here.
void TestSourceLayers::includeRule_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("core on model") << "formats" << "model" << true;
    QTest::newRow("core beside core") << "formats" << "video" << true;
    QTest::newRow("model on core") << "model" << "ai" << false;
    QTest::newRow("engine on its dialogs") << "ai" << "ai/ui" << false;
    QTest::newRow("dialogs on their engine") << "ai/ui" << "ai" << true;
    QTest::newRow("update on the application") << "update" << "app" << false;
    QTest::newRow("dialog on the application") << "dialogs" << "app" << false;
    QTest::newRow("canvas on the theme") << "canvas" << "chrome" << false;
    QTest::newRow("bars on the canvas") << "chrome" << "canvas" << true;
    QTest::newRow("export dialog on the prompts") << "formats/ui" << "dialogs" << true;
    QTest::newRow("application on everything") << "app" << "formats/ui" << true;
    QTest::newRow("unknown folder") << "canvas" << "gadgets" << false;
}

void TestSourceLayers::includeRule()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, allowed);
    QCOMPARE(includeAllowed(from, to), allowed);
}

void TestSourceLayers::widgetsHeaders_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<bool>("widgets");
    QTest::newRow("QWidget") << "QWidget" << true;
    QTest::newRow("QDialog") << "QDialog" << true;
    QTest::newRow("module path") << "QtWidgets/QLabel" << true;
    QTest::newRow("whole module") << "QtWidgets" << true;
    QTest::newRow("lower-case header") << "qpushbutton.h" << true;
    QTest::newRow("QAction is Qt Gui") << "QAction" << false;
    QTest::newRow("QUndoStack is Qt Gui") << "QUndoStack" << false;
    QTest::newRow("QImage") << "QImage" << false;
    QTest::newRow("QString") << "QString" << false;
}

void TestSourceLayers::widgetsHeaders()
{
    QFETCH(QString, header);
    QFETCH(bool, widgets);
    const QSet<QString> names = widgetsHeaderNames();
    QVERIFY2(names.size() > 100, "the Qt Widgets headers were not found");
    QCOMPARE(isWidgetsHeader(header, names), widgets);
}

void TestSourceLayers::everyFolderHasALayerAndOneLibrary()
{
    const QStringList core = cmakeFolderList(QStringLiteral("_core_dirs"));
    const QStringList widgets = cmakeFolderList(QStringLiteral("_widget_dirs"));
    QVERIFY2(!core.isEmpty() && !widgets.isEmpty(), "src/CMakeLists.txt lists no folders");
    QStringList problems;
    for (const QString &folder : core)
        if (widgets.contains(folder))
            problems << folder + QStringLiteral(" is in both libraries");
    for (auto it = layers().cbegin(); it != layers().cend(); ++it) {
        const QStringList &expected = it.value().widgets ? widgets : core;
        if (!expected.contains(it.key()))
            problems << it.key() + QStringLiteral(" is not in the ") + (it.value().widgets ? "widgets" : "core")
                            + QStringLiteral(" library");
    }
    QSet<QString> folders;
    for (const QString &file : sourceFiles())
        folders.insert(folderOf(file));
    for (const QString &folder : std::as_const(folders))
        if (!layers().contains(folder))
            problems << folder + QStringLiteral(" holds sources but has no layer");
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
}

void TestSourceLayers::noIncludeReachesUp()
{
    const QString src = QStringLiteral(QM_SOURCE_DIR);
    QStringList problems;
    const QStringList files = sourceFiles();
    QVERIFY(files.size() > 100);
    for (const QString &file : files) {
        const QString from = folderOf(file);
        for (const Include &include : includesOf(src + QLatin1Char('/') + file)) {
            if (!include.quoted)
                continue;
            const QString to = folderOf(include.header);
            if (!includeAllowed(from, to))
                problems << QStringLiteral("%1:%2 includes %3").arg(file).arg(include.line).arg(include.header);
        }
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
}

void TestSourceLayers::coreUsesNoWidgets()
{
    const QString src = QStringLiteral(QM_SOURCE_DIR);
    const QSet<QString> names = widgetsHeaderNames();
    QVERIFY(names.size() > 100);
    QStringList problems;
    for (const QString &file : sourceFiles()) {
        const Layer layer = layers().value(folderOf(file), {-1, true});
        if (layer.widgets)
            continue;
        for (const Include &include : includesOf(src + QLatin1Char('/') + file)) {
            if (!include.quoted && isWidgetsHeader(include.header, names))
                problems << QStringLiteral("%1:%2 includes <%3>").arg(file).arg(include.line).arg(include.header);
        }
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
}

QM_TEST_MAIN(TestSourceLayers)
#include "tst_sourcelayers.moc"
