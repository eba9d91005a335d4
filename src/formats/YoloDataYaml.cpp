#include "formats/YoloDataYaml.h"

#include "formats/ClassListFile.h"
#include "formats/FolderListing.h"
#include "formats/SafeRead.h"
#include "model/RegularFile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <exception>

namespace Quillmark {

namespace {

constexpr int kMaxKeypoints = 10000;
constexpr qint64 kMaxYamlFileBytes = 4LL * 1024 * 1024;   // 100,000 names of 40 bytes
// yaml-cpp builds a node tree of more than a hundred bytes per byte of text;
// a larger file (in practice only a huge class list) is scanned line by line.
constexpr qsizetype kMaxParsedYamlBytes = 1024 * 1024;

// Places names given by index into a list, filling gaps with "class_%1".
QStringList namesFromIndexMap(const QMap<int, QString> &byIndex)
{
    QStringList names;
    if (byIndex.isEmpty())
        return names;
    const int last = byIndex.lastKey();
    names.reserve(last + 1);
    for (int i = 0; i <= last; ++i)
        names.append(byIndex.value(i, QStringLiteral("class_%1").arg(i)));
    return names;
}

QString scalarText(const YAML::Node &node, int index)
{
    if (node.IsScalar())
        return QString::fromStdString(node.Scalar());
    return QStringLiteral("class_%1").arg(index);
}

QStringList namesFromYamlNode(const YAML::Node &names)
{
    QStringList list;
    if (names.IsSequence()) {
        int index = 0;
        for (const auto &item : names) {
            if (index >= kMaxClassNames)
                break;
            list.append(scalarText(item, index++));
        }
        return list;
    }
    if (!names.IsMap())
        return list;
    QMap<int, QString> byIndex;
    for (const auto &pair : names) {
        if (!pair.first.IsScalar())
            continue;
        int index = -1;
        if (!parseInt(QString::fromStdString(pair.first.Scalar()), &index) || index < 0 || index >= kMaxClassNames)
            continue;
        byIndex.insert(index, scalarText(pair.second, index));
    }
    return namesFromIndexMap(byIndex);
}

void readKeypointShape(const YAML::Node &shape, YoloDataYaml &result)
{
    if (!shape.IsSequence() || shape.size() != 2 || !shape[0].IsScalar() || !shape[1].IsScalar())
        return;
    int count = 0;
    int dims = 0;
    if (!parseInt(QString::fromStdString(shape[0].Scalar()), &count)
        || !parseInt(QString::fromStdString(shape[1].Scalar()), &dims))
        return;
    if (count < 1 || count > kMaxKeypoints || (dims != 2 && dims != 3))
        return;
    result.keypointCount = count;
    result.keypointDims = dims;
}

bool readWithYamlCpp(const QByteArray &bytes, YoloDataYaml &result)
{
    try {
        const YAML::Node root = YAML::Load(bytes.toStdString());
        if (!root.IsMap())
            return root.IsNull();
        for (const auto &pair : root) {
            if (!pair.first.IsScalar())
                continue;
            const std::string &key = pair.first.Scalar();
            if (key == "names")
                result.names = namesFromYamlNode(pair.second);
            else if (key == "display_names")
                result.displayNames = namesFromYamlNode(pair.second);
            else if (key == "kpt_shape")
                readKeypointShape(pair.second, result);
        }
        return true;
    } catch (const std::exception &) {
        result.names.clear();
        result.displayNames.clear();
        result.keypointCount = 0;
        result.keypointDims = 0;
        return false;
    }
}

QString unquoted(QString item)
{
    item = item.trimmed();
    item.remove(QLatin1Char('\''));
    item.remove(QLatin1Char('"'));
    return item;
}

// For files that are not valid YAML: the usual forms, found line by line.
void readLeniently(const QString &text, YoloDataYaml &result)
{
    static const QRegularExpression namesKey(QStringLiteral("^names\\s*:(.*)$"),
                                             QRegularExpression::MultilineOption);
    static const QRegularExpression inlineList(QStringLiteral("^\\s*\\[([^\\]]*)\\]"));
    static const QRegularExpression dashItem(QStringLiteral("^\\s*-\\s+(.+)$"));
    static const QRegularExpression indexItem(QStringLiteral("^\\s*(\\d+)\\s*:\\s*(.*)$"));
    static const QRegularExpression kptShape(QStringLiteral("^kpt_shape\\s*:\\s*\\[\\s*(\\d+)\\s*,\\s*(\\d+)\\s*\\]"),
                                             QRegularExpression::MultilineOption);

    const auto shape = kptShape.match(text);
    if (shape.hasMatch()) {
        const int count = shape.captured(1).toInt();
        const int dims = shape.captured(2).toInt();
        if (count >= 1 && count <= kMaxKeypoints && (dims == 2 || dims == 3)) {
            result.keypointCount = count;
            result.keypointDims = dims;
        }
    }

    const auto key = namesKey.match(text);
    if (!key.hasMatch())
        return;
    const QString afterKey = text.mid(key.capturedStart(1));
    const auto list = inlineList.match(afterKey);
    if (list.hasMatch()) {
        const QStringList items = list.captured(1).split(QLatin1Char(','));
        for (const QString &item : items) {
            const QString name = unquoted(item);
            if (!name.isEmpty() && result.names.size() < kMaxClassNames)
                result.names.append(name);
        }
        return;
    }

    QStringList dashNames;
    QMap<int, QString> byIndex;
    const QStringList lines = text.mid(key.capturedEnd(0)).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        const auto dash = dashItem.match(line);
        if (dash.hasMatch() && byIndex.isEmpty()) {
            if (dashNames.size() < kMaxClassNames)
                dashNames.append(unquoted(dash.captured(1)));
            continue;
        }
        const auto indexed = indexItem.match(line);
        if (indexed.hasMatch() && dashNames.isEmpty()) {
            int index = -1;
            if (parseInt(indexed.captured(1), &index) && index < kMaxClassNames)
                byIndex.insert(index, unquoted(indexed.captured(2)));
            continue;
        }
        break;
    }
    result.names = dashNames.isEmpty() ? namesFromIndexMap(byIndex) : dashNames;
}

} // namespace

QString findYoloDataYaml(const QString &folder)
{
    const QString dataYaml = QDir(folder).filePath(QStringLiteral("data.yaml"));
    if (QFileInfo(dataYaml).isFile())
        return dataYaml;
    QStringList candidates = listFiles(folder, {QStringLiteral("*.yaml"), QStringLiteral("*.yml")});
    std::stable_sort(candidates.begin(), candidates.end(), [](const QString &a, const QString &b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    QString withCount;
    for (const QString &candidate : candidates) {
        const QByteArray head = readRegularFileHead(candidate, 4096);
        if (head.contains("names:"))
            return candidate;
        if (withCount.isEmpty() && head.contains("nc:"))
            withCount = candidate;
    }
    return withCount;
}

YoloDataYaml readYoloDataYaml(const QString &yamlPath)
{
    YoloDataYaml result;
    result.path = yamlPath;
    QByteArray bytes;
    if (!readWholeFile(yamlPath, kMaxYamlFileBytes, &bytes))
        return result;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (bytes.size() > kMaxParsedYamlBytes || !readWithYamlCpp(bytes, result))
        readLeniently(QString::fromUtf8(bytes), result);
    return result;
}

YoloDataYaml loadYoloDataYaml(const QString &folder)
{
    const QString path = findYoloDataYaml(folder);
    return path.isEmpty() ? YoloDataYaml() : readYoloDataYaml(path);
}

QStringList parseYoloYamlNames(const QString &yamlPath)
{
    return readYoloDataYaml(yamlPath).names;
}

namespace {

bool hasControlCharacters(const QString &text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0xfeff)
            return true;
    }
    return false;
}

// Words and numbers that YAML (1.1 or 1.2) reads as something other than text.
bool looksTyped(const QString &text)
{
    static const QRegularExpression reserved(
        QStringLiteral("^(null|~|true|false|yes|no|on|off|y|n|=|<<)$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression number(
        QStringLiteral("^[-+]?(\\d[\\d_]*)?(\\.[\\d_]*)?([eE][-+]?\\d+)?$"));
    static const QRegularExpression special(
        QStringLiteral("^([-+]?\\.inf|\\.nan|0x[0-9a-f_]+|0o[0-7_]+|0b[01_]+)$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression sexagesimal(QStringLiteral("^[-+]?\\d[\\d_]*(:[0-5]?\\d)+(\\.[\\d_]*)?$"));
    static const QRegularExpression date(QStringLiteral("^\\d{4}-\\d{1,2}-\\d{1,2}"));
    if (reserved.match(text).hasMatch() || special.match(text).hasMatch())
        return true;
    if (sexagesimal.match(text).hasMatch() || date.match(text).hasMatch())
        return true;
    return text.contains(QRegularExpression(QStringLiteral("\\d"))) && number.match(text).hasMatch();
}

bool isPlainSafe(const QString &text)
{
    if (text.isEmpty() || text.front().isSpace() || text.back().isSpace())
        return false;
    if (hasControlCharacters(text))
        return false;
    static const QString leadingIndicators = QStringLiteral("-?:,[]{}#&*!|>'\"%@`");
    if (leadingIndicators.contains(text.front()))
        return false;
    if (text.contains(QLatin1String(": ")) || text.contains(QLatin1String(" #")) || text.endsWith(QLatin1Char(':')))
        return false;
    for (QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char('[') || c == QLatin1Char(']') || c == QLatin1Char('{')
            || c == QLatin1Char('}') || c == QLatin1Char('\t'))
            return false;
    }
    return !looksTyped(text);
}

QString doubleQuoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        const char16_t u = c.unicode();
        switch (u) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\r': out += QLatin1String("\\r"); break;
        default:
            if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0xfeff)
                out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

} // namespace

QString yamlScalar(const QString &text)
{
    return isPlainSafe(text) ? text : yamlQuoted(text);
}

QString yamlQuoted(const QString &text)
{
    if (hasControlCharacters(text))
        return doubleQuoted(text);
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QString yamlQuotedList(const QStringList &names)
{
    QStringList quoted;
    quoted.reserve(names.size());
    for (const QString &name : names)
        quoted.append(yamlQuoted(name));
    return QLatin1Char('[') + quoted.join(QLatin1String(", ")) + QLatin1Char(']');
}

QString dataYamlRootComment()
{
    return QStringLiteral("# Dataset root: the folder of this file. The folders below are relative to it.\n");
}

namespace {

// The words of a keypoint name: runs of letters, a capital after a small
// letter starting a new word ("leftEye" is "left" and "Eye").
struct NameWord {
    qsizetype start;
    qsizetype length;
};

QList<NameWord> nameWords(const QString &name)
{
    QList<NameWord> words;
    qsizetype i = 0;
    while (i < name.size()) {
        if (!name.at(i).isLetter()) {
            ++i;
            continue;
        }
        const qsizetype start = i++;
        while (i < name.size() && name.at(i).isLetter() && !(name.at(i).isUpper() && name.at(i - 1).isLower()))
            ++i;
        words.append({start, i - start});
    }
    return words;
}

// `replacement` in the letter case of `word`: all capitals, a capital first,
// or small letters.
QString inCaseOf(const QString &word, const QString &replacement)
{
    if (word.size() > 1 && word == word.toUpper())
        return replacement.toUpper();
    if (word.at(0).isUpper())
        return replacement.at(0).toUpper() + replacement.mid(1);
    return replacement;
}

// The name of the keypoint on the other side, or an empty string when the
// name names no side.
QString otherSideName(const QString &name)
{
    static const QHash<QString, QString> sides = {
        {QStringLiteral("left"), QStringLiteral("right")},
        {QStringLiteral("right"), QStringLiteral("left")},
        {QStringLiteral("l"), QStringLiteral("r")},
        {QStringLiteral("r"), QStringLiteral("l")},
    };
    QString other = name;
    bool swapped = false;
    const QList<NameWord> words = nameWords(name);
    // From the last word back, so that the earlier positions stay valid.
    for (auto it = words.crbegin(); it != words.crend(); ++it) {
        const QString word = name.mid(it->start, it->length);
        const auto side = sides.constFind(word.toLower());
        if (side == sides.cend())
            continue;
        other.replace(it->start, it->length, inCaseOf(word, side.value()));
        swapped = true;
    }
    return swapped ? other : QString();
}

} // namespace

QList<int> keypointFlipIndex(const QStringList &keypointNames, int count)
{
    QList<int> flip(count);
    for (int i = 0; i < count; ++i)
        flip[i] = i;
    const QStringList names = keypointNames.mid(0, count);
    QList<bool> paired(count, false);
    for (int i = 0; i < names.size(); ++i) {
        if (paired.at(i))
            continue;
        const QString other = otherSideName(names.at(i));
        if (other.isEmpty())
            continue;
        qsizetype j = names.indexOf(other);
        if (j < 0) {
            for (qsizetype k = 0; k < names.size() && j < 0; ++k) {
                if (names.at(k).compare(other, Qt::CaseInsensitive) == 0)
                    j = k;
            }
        }
        // Each keypoint pairs once; a second name of the same side keeps its
        // place, so the index stays a permutation.
        if (j < 0 || j == i || paired.at(j))
            continue;
        flip[i] = int(j);
        flip[j] = i;
        paired[i] = true;
        paired[j] = true;
    }
    return flip;
}

QString yamlKeypointShape(const QStringList &keypointNames, int count)
{
    QStringList indices;
    for (int index : keypointFlipIndex(keypointNames, count))
        indices.append(QString::number(index));
    return QStringLiteral("kpt_shape: [%1, 3]\nflip_idx: [%2]\n").arg(count).arg(indices.join(QStringLiteral(", ")));
}

QStringList subsetImageFolders(const QString &pattern, const QStringList &written)
{
    const auto folder = [&](const QString &subset) {
        return written.contains(subset) ? pattern.arg(subset) : QString();
    };
    QStringList folders{folder(QStringLiteral("train")), folder(QStringLiteral("valid")), folder(QStringLiteral("test"))};
    if (folders.at(0).isEmpty())
        folders[0] = folders.at(1);
    if (folders.at(1).isEmpty())
        folders[1] = folders.at(0);
    return folders;
}

} // namespace Quillmark
