#pragma once

// Small builders and file helpers shared by the format tests.

#include "QmTest.h"

#include "model/Dataset.h"

#include <QDir>
#include <QDirIterator>
#include <QPolygonF>
#include <QProcess>
#include <QtTest>

#include <cmath>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

namespace FormatTest {

using namespace Quillmark;

inline Annotation box(const QString &cls, double x, double y, double w, double h)
{
    Annotation a;
    a.className = cls;
    a.kind = BoundingBox;
    a.bbox = QRectF(x, y, w, h);
    return a;
}

inline QRectF boundsOf(const QList<QPointF> &points)
{
    return QPolygonF(points).boundingRect();
}

inline Annotation polygon(const QString &cls, const QList<QPointF> &points)
{
    Annotation a;
    a.className = cls;
    a.kind = Polygon;
    a.points = points;
    a.bbox = boundsOf(points);
    return a;
}

inline Annotation polyline(const QString &cls, const QList<QPointF> &points)
{
    Annotation a = polygon(cls, points);
    a.kind = Polyline;
    return a;
}

inline Annotation point(const QString &cls, double x, double y)
{
    Annotation a;
    a.className = cls;
    a.kind = Point;
    a.points = {QPointF(x, y)};
    a.bbox = QRectF(x, y, 0, 0);
    return a;
}

inline Annotation keypoints(const QString &cls, const QRectF &bbox, const QList<QPointF> &points,
                            const QList<int> &visibility)
{
    Annotation a;
    a.className = cls;
    a.kind = Keypoint;
    a.bbox = bbox;
    a.points = points;
    a.keypointVis = visibility;
    return a;
}

inline ImageEntry image(const QString &path, int width, int height, const QList<Annotation> &labels = {})
{
    ImageEntry e;
    e.filePath = path;
    e.width = width;
    e.height = height;
    e.labels = labels;
    return e;
}

// A regular polygon of n vertices inside the image, away from its borders.
inline QList<QPointF> ring(int n, double cx, double cy, double r)
{
    QList<QPointF> points;
    for (int i = 0; i < n; ++i) {
        const double angle = 2.0 * 3.14159265358979 * i / n;
        points.append(QPointF(cx + r * std::cos(angle), cy + r * std::sin(angle)));
    }
    return points;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A real image file of the given size whose pixels are one colour.
inline bool writeImage(const QString &path, int width, int height, QColor colour = Qt::red)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    return picture.save(path);
}

// The files below a folder, as sorted paths relative to it.
inline QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

inline void fuzzyCompareRect(const QRectF &actual, const QRectF &expected, double tolerance = 1e-3)
{
    QVERIFY2(std::abs(actual.x() - expected.x()) < tolerance && std::abs(actual.y() - expected.y()) < tolerance
                 && std::abs(actual.width() - expected.width()) < tolerance
                 && std::abs(actual.height() - expected.height()) < tolerance,
             qPrintable(QStringLiteral("(%1, %2, %3 x %4) != (%5, %6, %7 x %8)")
                            .arg(actual.x()).arg(actual.y()).arg(actual.width()).arg(actual.height())
                            .arg(expected.x()).arg(expected.y()).arg(expected.width()).arg(expected.height())));
}

inline bool pointsClose(const QList<QPointF> &a, const QList<QPointF> &b, double tolerance = 1e-3)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (std::abs(a.at(i).x() - b.at(i).x()) > tolerance || std::abs(a.at(i).y() - b.at(i).y()) > tolerance)
            return false;
    }
    return true;
}

// Runs one of the Python checks under tests/formats/readers with Debian's
// interpreter; true when it exits cleanly and prints "ok" first.
inline bool runReaderScript(const QString &script, const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(QM_PYTHON),
                  QStringList{QStringLiteral(QM_TESTS_DIR "/formats/readers/") + script} + arguments);
    if (!process.waitForFinished(QmTest::patienceMs))
        return false;
    *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && output->startsWith("ok");
}

} // namespace FormatTest
