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
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QtEndian>

#include <algorithm>
#include <cmath>

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

// What FFmpeg's own sequential decoding of a file gives out: every picture of
// the video stream `map` (an ffmpeg stream specifier such as "0:v:0"), in the
// stored orientation (no display matrix applied), with the code each carries
// and whether the decoder called it a key picture. `keep` names the pictures
// whose pixels are kept (all when empty and `keepAll`).
struct SequentialDecode {
    QList<int> codes;
    QList<int> keyPictures;
    QHash<int, QImage> pictures;
    bool ok = false;
};

inline SequentialDecode sequentialDecode(const QString &path, const QString &map, QSize stored,
                                         const QList<int> &keep = {})
{
    SequentialDecode result;
    QProcess decoder;
    decoder.start(ffmpeg(), {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                             QStringLiteral("-noautorotate"), QStringLiteral("-i"), path, QStringLiteral("-map"), map,
                             QStringLiteral("-fps_mode"), QStringLiteral("passthrough"), QStringLiteral("-f"),
                             QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"), QStringLiteral("bgra"),
                             QStringLiteral("-")});
    if (!decoder.waitForFinished(QmTest::patienceMs) || decoder.exitCode() != 0)
        return result;
    const QByteArray bytes = decoder.readAllStandardOutput();
    const qsizetype frameBytes = qsizetype(stored.width()) * stored.height() * 4;
    if (frameBytes <= 0 || bytes.size() % frameBytes != 0)
        return result;
    for (qsizetype at = 0, i = 0; at < bytes.size(); at += frameBytes, ++i) {
        const QImage picture(reinterpret_cast<const uchar *>(bytes.constData() + at), stored.width(), stored.height(),
                             QImage::Format_RGB32);
        result.codes << frameCode(picture);
        if (keep.contains(int(i)))
            result.pictures.insert(int(i), picture.copy());
    }
    // The decoder's own key pictures, in the order it gave the pictures out.
    QProcess probe;
    const QString stream = map.section(QLatin1Char(':'), 1);
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), stream,
                 QStringLiteral("-show_entries"), QStringLiteral("frame=key_frame"), QStringLiteral("-of"),
                 QStringLiteral("csv=p=0"), path});
    if (!probe.waitForFinished(QmTest::patienceMs) || probe.exitCode() != 0)
        return result;
    const QList<QByteArray> lines = probe.readAllStandardOutput().split('\n');
    for (qsizetype i = 0, picture = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('1') && picture > 0)
            result.keyPictures << int(picture);
        ++picture;
    }
    result.ok = !result.codes.isEmpty();
    return result;
}

// Peak signal-to-noise ratio of two pictures of one size over their colour
// channels, in dB (1000 for identical pictures).
inline double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int column = 0; column < x.width(); ++column) {
            const int dr = qRed(p[column]) - qRed(q[column]);
            const int dg = qGreen(p[column]) - qGreen(q[column]);
            const int db = qBlue(p[column]) - qBlue(q[column]);
            sum += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = sum / (3.0 * x.width() * x.height());
    return mse == 0 ? 1000.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// An MP4 of one video track with the track's display matrix replaced by
// [a b; c d] (in the layout FFmpeg reads: a point (p, q) of the stored frame
// shows at (a p + c q, b p + d q)); the translation keeps the picture in view.
inline QByteArray withDisplayMatrix(QByteArray mp4, int a, int b, int c, int d, int width, int height)
{
    const qsizetype tkhd = mp4.indexOf("tkhd");
    if (tkhd < 0)
        return {};
    const int version = quint8(mp4.at(tkhd + 4));
    // Version and flags, two times, track id, reserved, duration, reserved,
    // layer, alternate group, volume, reserved; then the matrix.
    const qsizetype matrix = tkhd + 4 + 4 + (version == 1 ? 8 + 8 : 4 + 4) + 4 + 4 + (version == 1 ? 8 : 4) + 8 + 2 + 2 + 2 + 2;
    if (matrix + 36 > mp4.size())
        return {};
    const qint32 one = 1 << 16;
    const qint32 x = (a < 0 ? width : 0) + (c < 0 ? height : 0);
    const qint32 y = (b < 0 ? width : 0) + (d < 0 ? height : 0);
    const qint32 values[9] = {a * one, b * one, 0, c * one, d * one, 0, x * one, y * one, 1 << 30};
    for (int i = 0; i < 9; ++i)
        qToBigEndian(values[i], mp4.data() + matrix + 4 * i);
    return mp4;
}

// An FLV whose video tags from the `from`-th on carry times `backMs` earlier
// than they were (as a stream spliced or restarted in the middle would).
inline QByteArray withTimesSetBack(QByteArray flv, int from, int backMs)
{
    qsizetype at = 9 + 4; // header, first previous-tag size
    int videoTag = 0;
    while (at + 11 <= flv.size()) {
        const int type = quint8(flv.at(at));
        const qsizetype size = (qsizetype(quint8(flv.at(at + 1))) << 16) | (quint8(flv.at(at + 2)) << 8) |
                               quint8(flv.at(at + 3));
        if (type == 9 && videoTag++ >= from) {
            const qint64 time = (qint64(quint8(flv.at(at + 7))) << 24) | (qint64(quint8(flv.at(at + 4))) << 16) |
                                (quint8(flv.at(at + 5)) << 8) | quint8(flv.at(at + 6));
            const qint64 earlier = std::max<qint64>(0, time - backMs);
            flv[at + 4] = char((earlier >> 16) & 0xff);
            flv[at + 5] = char((earlier >> 8) & 0xff);
            flv[at + 6] = char(earlier & 0xff);
            flv[at + 7] = char((earlier >> 24) & 0xff);
        }
        at += 11 + size + 4;
    }
    return flv;
}

} // namespace VideoFixture
