#pragma once

// Test videos made on the spot with Debian's ffmpeg from generated frames whose
// pixels tell their index: the top quarter of every frame is a row of twelve
// cells, white for a set bit of the index (lowest bit on the left), black for a
// clear one. The cells survive lossy coding, so a decoded picture names the
// frame it shows.

#include "QmTest.h"

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace VideoFixture {

constexpr int codeCells = 12;

inline QImage codedFrame(int index, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    // A grey below the cells that changes with the index, so that no two
    // neighbouring frames are alike to the encoder.
    image.fill(QColor::fromRgb(40 + (index * 8) % 160, 60, 90));
    QPainter painter(&image);
    const int cell = width / codeCells;
    for (int bit = 0; bit < codeCells; ++bit)
        painter.fillRect(bit * cell, 0, cell, height / 4, (index >> bit) & 1 ? Qt::white : Qt::black);
    return image;
}

// The index a decoded frame shows; `at` maps a point of the frame to the point
// of `picture` where it is drawn (the identity for a plain frame).
template <typename Map> int frameCode(const QImage &picture, int width, int height, Map at)
{
    const int cell = width / codeCells;
    int code = 0;
    for (int bit = 0; bit < codeCells; ++bit) {
        const QPoint p = at(QPointF(bit * cell + cell / 2.0, height / 8.0));
        if (qGray(picture.pixel(p)) > 128)
            code |= 1 << bit;
    }
    return code;
}

inline int frameCode(const QImage &frame)
{
    return frameCode(frame, frame.width(), frame.height(), [](const QPointF &p) { return p.toPoint(); });
}

inline QString ffmpeg()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

// Runs ffmpeg quietly; false (with its messages in `log`) when it fails.
inline bool runFfmpeg(const QStringList &arguments, QString *log = nullptr)
{
    QProcess process;
    process.start(ffmpeg(), QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                                        QStringLiteral("error"), QStringLiteral("-y")} +
                                arguments);
    const bool ok =
        process.waitForFinished(QmTest::patienceMs) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (log)
        *log = QString::fromLocal8Bit(process.readAllStandardError());
    return ok;
}

// Writes `count` coded frames as PNG files into `dir` (f00000.png ...).
inline bool writeFrames(const QDir &dir, int count, int width, int height)
{
    for (int i = 0; i < count; ++i) {
        if (!codedFrame(i, width, height).save(dir.filePath(QStringLiteral("f%1.png").arg(i, 5, 10, QLatin1Char('0')))))
            return false;
    }
    return true;
}

// Encodes the frames of `framesDir` at `rate` (an ffmpeg rate such as
// "30000/1001") with the given codec options into `output`.
inline bool encode(const QDir &framesDir, const QString &rate, const QStringList &codec, const QString &output,
                   QString *log = nullptr)
{
    QStringList arguments{QStringLiteral("-framerate"), rate, QStringLiteral("-i"),
                          framesDir.filePath(QStringLiteral("f%05d.png"))};
    arguments << codec << output;
    return runFfmpeg(arguments, log);
}

inline QStringList mjpegCodec()
{
    return {QStringLiteral("-c:v"), QStringLiteral("mjpeg"),    QStringLiteral("-q:v"),
            QStringLiteral("3"),    QStringLiteral("-pix_fmt"), QStringLiteral("yuvj420p")};
}

// H.264 as cameras and editors write it: a group of pictures of `gop` frames
// with B-frames in between.
inline QStringList h264Codec(int gop)
{
    return {QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-g"),       QString::number(gop),
            QStringLiteral("-bf"),  QStringLiteral("2"),       QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p")};
}

// A video of the one frame in `png`.
inline bool encodeOneFrame(const QString &png, const QString &output, QString *log = nullptr)
{
    return runFfmpeg(QStringList{QStringLiteral("-framerate"), QStringLiteral("25"), QStringLiteral("-i"), png,
                                 QStringLiteral("-frames:v"), QStringLiteral("1")} +
                         h264Codec(12) + QStringList{output},
                     log);
}

// The frames of `framesDir` at 25 fps with three seconds of sound, which
// outlasts them.
inline bool encodeWithLongerAudio(const QDir &framesDir, const QString &output, QString *log = nullptr)
{
    return runFfmpeg(QStringList{QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                                 QStringLiteral("sine=frequency=440:duration=3"), QStringLiteral("-framerate"),
                                 QStringLiteral("25"), QStringLiteral("-i"),
                                 framesDir.filePath(QStringLiteral("f%05d.png"))} +
                         h264Codec(12) + QStringList{QStringLiteral("-c:a"), QStringLiteral("aac"), output},
                     log);
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// `size` bytes of noise.
inline QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

// The bytes of an MP4 with every byte of its media data set to zero: the
// container stays sound, but no picture decodes. Empty when there is no media box.
inline QByteArray withZeroedPictures(QByteArray mp4)
{
    const qsizetype mdat = mp4.indexOf("mdat");
    if (mdat < 4)
        return {};
    const qsizetype size = (qsizetype(quint8(mp4.at(mdat - 4))) << 24) | (quint8(mp4.at(mdat - 3)) << 16) |
                           (quint8(mp4.at(mdat - 2)) << 8) | quint8(mp4.at(mdat - 1));
    if (size <= 8 || mdat - 4 + size > mp4.size())
        return {};
    std::fill(mp4.begin() + mdat + 4, mp4.begin() + mdat - 4 + size, '\0');
    return mp4;
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace VideoFixture
