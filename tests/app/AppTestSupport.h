#pragma once

// Fixture pieces shared by the main-window tests: image files with known sizes
// and colours, mouse input straight to a widget, and waiting for the canvas.

#include "MainWindowTestAccess.h"
#include "QmTest.h"
#include "app/MainWindow.h"
#include "canvas/LabelCanvas.h"
#include "dialogs/Prompts.h"
#include "model/StoredImageBytes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QSemaphore>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include <sys/stat.h>

namespace AppTest {

using namespace Quillmark;

inline QString writeImage(const QDir &dir, const QString &name, int w, int h, const QColor &color)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    const QString path = dir.filePath(name);
    if (!image.save(path))
        qWarning("could not write %s", qPrintable(path));
    return path;
}

inline ImageEntry imageEntry(const QString &path, int w, int h, const QList<Annotation> &labels = {})
{
    ImageEntry entry;
    entry.filePath = path;
    entry.width = w;
    entry.height = h;
    entry.labels = labels;
    return entry;
}

// An image entry whose pixels are in memory (as a package's images are),
// filled with one colour.
inline ImageEntry memoryImage(const QString &path, int w, int h, const QColor &fill = Qt::gray,
                              const QList<Annotation> &labels = {})
{
    ImageEntry entry = imageEntry(path, w, h, labels);
    entry.image = QImage(w, h, QImage::Format_RGB32);
    entry.image.fill(fill);
    return entry;
}

// Writes `bytes` to the file; to a named pipe, once its reader has opened it.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A named pipe in `dir`: a read of it waits until the test writes it, as a read
// from a stalled network share does. Empty when it cannot be made.
inline QString makePipe(const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    return mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}

// A picture whose pixels arrive only when the test delivers them, as those of
// a file on a stalled network share do: a read of the entry waits until then
// (for a minute at most). Pictures are read only from regular files, so the
// stall is staged in the entry's stored bytes rather than with a pipe.
class LatePicture : public StoredImageBytes {
public:
    QByteArray read() const override
    {
        if (!arrived.tryAcquire(1, 60000))
            return {};
        arrived.release();
        return bytes;
    }
    void deliver(const QByteArray &encoded)
    {
        bytes = encoded;
        arrived.release();
    }

private:
    QByteArray bytes;
    mutable QSemaphore arrived;
};

// An image entry named `name` whose pixels come from `picture`.
inline ImageEntry lateImage(const QString &name, const std::shared_ptr<LatePicture> &picture, int w, int h,
                            const QList<Annotation> &labels = {})
{
    ImageEntry entry = imageEntry(name, w, h, labels);
    entry.storedBytes = picture;
    return entry;
}

// A project file whose read stalls, as one on a hung network share does,
// until the test finishes it. Project files must be regular files, so the
// stall is staged in the window's reader rather than with a pipe.
class StalledProjectFile {
public:
    explicit StalledProjectFile(const QString &path) : path(path) {}

    // Makes the window's open worker wait at this file until finish().
    template <typename Access>
    void stallIn(Access &access)
    {
        auto stalledGate = gate;
        const QString stalledPath = path;
        access.projectFileReader() = [stalledGate, stalledPath](Project &project, const QString &file,
                                                                QString *problem) {
            if (file == stalledPath)
                stalledGate->acquire();
            return readProjectFile(project, file, problem);
        };
    }

    // Writes the file's contents and lets the stalled read go on.
    bool finish(const QByteArray &bytes)
    {
        const bool written = writeFile(path, bytes);
        gate->release();
        return written;
    }

    const QString path;

private:
    std::shared_ptr<QSemaphore> gate = std::make_shared<QSemaphore>();
};

inline Annotation box(const QRectF &r, const QString &cls = QStringLiteral("cat"))
{
    Annotation a;
    a.className = cls;
    a.kind = BoundingBox;
    a.bbox = r;
    return a;
}

inline void sendMouse(QWidget *w, QEvent::Type type, const QPointF &pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons, const QPointF &global)
{
    QMouseEvent event(type, pos, global, button, buttons, Qt::NoModifier, QPointingDevice::primaryPointingDevice());
    QApplication::sendEvent(w, &event);
}

// Drags a box on the canvas between two image points.
inline void drawBox(LabelCanvas *canvas, const QPointF &fromImage, const QPointF &toImage)
{
    const QPointF from = canvas->toScreen(fromImage);
    const QPointF to = canvas->toScreen(toImage);
    sendMouse(canvas, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, canvas->mapToGlobal(from));
    for (int i = 1; i <= 4; ++i) {
        const QPointF p = from + (to - from) * (i / 4.0);
        sendMouse(canvas, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton, canvas->mapToGlobal(p));
    }
    sendMouse(canvas, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, canvas->mapToGlobal(to));
}

inline void clickAt(LabelCanvas *canvas, const QPointF &image, Qt::MouseButton button = Qt::LeftButton)
{
    const QPointF p = canvas->toScreen(image);
    sendMouse(canvas, QEvent::MouseButtonPress, p, button, button, canvas->mapToGlobal(p));
    sendMouse(canvas, QEvent::MouseButtonRelease, p, button, Qt::NoButton, canvas->mapToGlobal(p));
}

inline QString statusText(MainWindow &window)
{
    return window.statusBar()->currentMessage();
}

// Runs `step` on the modal dialog that the next command opens (from inside its
// exec). When the command opens none, nothing runs.
inline void onNextModal(const std::function<void(QWidget *)> &step)
{
    QTimer::singleShot(0, [step] {
        if (QWidget *modal = QApplication::activeModalWidget())
            step(modal);
    });
}

// Shows the window with a saved project of `type` holding `images` gray
// pictures on disk and the class "cat", the first picture on the canvas and the
// keyboard with the canvas. False when the window or the picture does not come.
inline bool showProject(MainWindow &window, const QTemporaryDir &dir, const QString &type, int images = 1)
{
    MainWindowTestAccess access(window);
    for (int i = 0; i < images; ++i)
        access.project().dataset.addImage(
            imageEntry(writeImage(QDir(dir.path()), QStringLiteral("%1.png").arg(i), 400, 300, Qt::gray), 400, 300));
    access.project().projectType = type;
    access.project().dataset.addClass(QStringLiteral("cat"), QColor());
    access.projectPath() = dir.filePath(QStringLiteral("p.qmk"));
    access.refreshUi();
    access.updateTitle();
    window.show();
    LabelCanvas *canvas = window.labelCanvas();
    if (!QTest::qWaitForWindowActive(&window) || !QTest::qWaitFor([canvas] { return canvas->displayedEntryId() == 0; }, QmTest::patienceMs))
        return false;
    canvas->setFocus();
    return QTest::qWaitFor([canvas] { return canvas->hasFocus(); });
}

} // namespace AppTest
