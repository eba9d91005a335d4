#pragma once

#include "canvas/LabelCanvas.h"

#include <QObject>
#include <QStringList>

// Records the canvas's edit signals in the order they fire, e.g.
// "changed", "selected 3", "added 3".
class SignalLog : public QObject {
public:
    explicit SignalLog(Quillmark::LabelCanvas *canvas)
    {
        using Quillmark::LabelCanvas;
        connect(canvas, &LabelCanvas::annotationAdded, this, [this](int i) { entries << QStringLiteral("added %1").arg(i); });
        connect(canvas, &LabelCanvas::annotationSelected, this,
                [this](int i) { entries << QStringLiteral("selected %1").arg(i); });
        connect(canvas, &LabelCanvas::annotationDeleted, this,
                [this](int i) { entries << QStringLiteral("deleted %1").arg(i); });
        connect(canvas, &LabelCanvas::annotationsChanged, this, [this] { entries << QStringLiteral("changed"); });
        connect(canvas, &LabelCanvas::classRequired, this, [this] { entries << QStringLiteral("class required"); });
    }

    QStringList take()
    {
        QStringList out = entries;
        entries.clear();
        return out;
    }

    QStringList entries;
};
