#pragma once

#include "model/Annotation.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace Quillmark {

// One video of the dataset with the annotations of its frames.
struct VideoEntry {
    int id = -1;
    QString filePath;
    int width = 0;
    int height = 0;
    int frameCount = 0;
    float fps = 25.0f;
    QByteArray bytes;                          // whole file when held in memory
    QMap<int, QList<Annotation>> frameLabels;  // frame index -> annotations; no empty lists

    bool isLabelled() const;
};

} // namespace Quillmark
