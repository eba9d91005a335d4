#include "dialogs/ImageFolderScan.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace Quillmark {

namespace {

// The folder separator sorts before every other character, so that a folder's
// files come before those of a sibling whose name extends the folder's
// ("sub/x.png" before "sub-a.png").
char32_t orderKey(QChar c)
{
    return c == QLatin1Char('/') ? 0 : c.toCaseFolded().unicode();
}

// Compares the digit runs starting at a[i] and b[j] by value and moves both
// indices past them. Leading zeros do not count here.
int compareNumbers(QStringView a, qsizetype &i, QStringView b, qsizetype &j)
{
    const auto skipZeros = [](QStringView s, qsizetype &k) {
        while (k + 1 < s.size() && s[k] == QLatin1Char('0') && s[k + 1].isDigit())
            ++k;
    };
    const auto runEnd = [](QStringView s, qsizetype k) {
        while (k < s.size() && s[k].isDigit())
            ++k;
        return k;
    };
    skipZeros(a, i);
    skipZeros(b, j);
    const qsizetype endA = runEnd(a, i);
    const qsizetype endB = runEnd(b, j);
    // More significant digits is the larger number; equal lengths compare by digits.
    int result = int(endA - i) - int(endB - j);
    for (; result == 0 && i < endA; ++i, ++j)
        result = a[i].digitValue() - b[j].digitValue();
    i = endA;
    j = endB;
    return result;
}

} // namespace

int naturalCompare(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            if (const int numbers = compareNumbers(a, i, b, j))
                return numbers;
            continue;
        }
        const char32_t x = orderKey(a[i]);
        const char32_t y = orderKey(b[j]);
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Names that differ only in case or leading zeros still get a fixed order.
    return a.compare(b);
}

const QStringList &imageFolderNameFilters()
{
    static const QStringList filters = {"*.jpg", "*.jpeg", "*.png", "*.bmp", "*.tif", "*.tiff", "*.webp"};
    return filters;
}

QStringList scanImageFolder(const QString &folder)
{
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    const QString root = QDir(folder).absolutePath();
    // Without QDir::Hidden the iterator neither lists hidden files nor descends
    // into hidden folders; without FollowSymlinks it never enters a linked folder.
    // Name filters match ignoring case because QDir::CaseSensitive is not set.
    QDirIterator it(root, imageFolderNameFilters(), QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths.append(it.next());
    // Every path starts with the root: the order is that of the paths below it.
    const qsizetype prefix = root.size();
    std::sort(paths.begin(), paths.end(), [prefix](const QString &a, const QString &b) {
        return naturalCompare(QStringView(a).mid(prefix), QStringView(b).mid(prefix)) < 0;
    });
    return paths;
}

} // namespace Quillmark
