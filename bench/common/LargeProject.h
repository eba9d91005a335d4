#pragma once

// The large project of the project-file and window benchmarks: ten
// annotations per image (four boxes, five 12-point polygons, and on every
// tenth image a 17-point keypoint set), 1.3 GB as a project file at 100,000
// images.
#include "model/Project.h"
#include "model/ProjectFile.h"

#include <cstdio>

namespace QmBench {

using Quillmark::Annotation;
using Quillmark::ImageEntry;
using Quillmark::Project;

inline Annotation makeBox(int i)
{
    Annotation a;
    a.className = QStringLiteral("class_%1").arg(i % 12);
    a.bbox = QRectF(10.5 + i % 300, 20.25 + i % 200, 64 + i % 50, 48 + i % 40);
    a.confidence = (i % 3 == 0) ? 0.9f : 1.0f;
    return a;
}

inline Annotation makePolygon(int i)
{
    Annotation a = makeBox(i);
    a.kind = Quillmark::Polygon;
    for (int k = 0; k < 12; ++k)
        a.points.append(QPointF(100.125 + k * 7.5 + i % 17, 200.5 + (k % 4) * 9.75));
    return a;
}

inline Annotation makeKeypoints(int i)
{
    Annotation a = makeBox(i);
    a.kind = Quillmark::Keypoint;
    a.className = QStringLiteral("person");
    for (int k = 0; k < 17; ++k) {
        a.points.append(QPointF(300 + k * 3.5, 400 + k * 2.25));
        a.keypointVis.append(k % 5 == 0 ? 1 : 2);
    }
    return a;
}

// Boxes, polygons and keypoint sets on every image, twelve classes. The
// images are named in `folder` (by default one that does not exist).
inline Project largeProject(int images, const QString &folder = QStringLiteral("/data/set/images"))
{
    Project p;
    p.name = QStringLiteral("Benchmark");
    p.projectType = QStringLiteral("segmentation");
    for (int i = 0; i < images; ++i) {
        ImageEntry e;
        e.filePath = QStringLiteral("%1/img_%2.jpg").arg(folder).arg(i, 6, 10, QLatin1Char('0'));
        e.width = 1920;
        e.height = 1080;
        for (int k = 0; k < 10; ++k) {
            if (k < 4)
                e.labels.append(makeBox(i + k));
            else if (k < 9)
                e.labels.append(makePolygon(i + k));
            else if (i % 10 == 0)
                e.labels.append(makeKeypoints(i + k));
            else
                e.labels.append(makeBox(i + k));
        }
        p.dataset.addImage(e);
    }
    p.dataset.syncClassesFromAnnotations();
    return p;
}

// Writes the large project of `images` images to `path`; false, with a
// message, when it cannot.
inline bool writeLargeProject(int images, const QString &path,
                              const QString &folder = QStringLiteral("/data/set/images"))
{
    if (Quillmark::saveProjectFile(largeProject(images, folder), path))
        return true;
    std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    return false;
}

} // namespace QmBench
