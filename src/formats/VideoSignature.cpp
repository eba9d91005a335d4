#include "formats/VideoSignature.h"

#include "model/RegularFile.h"

#include <QByteArray>

namespace Quillmark {

namespace {

constexpr qsizetype kTransportPacket = 188;

// ISO base media files (MP4, MOV, M4V, 3GP) open with a box whose type is
// "ftyp", or, in old QuickTime files, one of the top-level boxes.
bool isBaseMedia(QByteArrayView head)
{
    if (head.size() < 8)
        return false;
    const QByteArrayView type = head.sliced(4, 4);
    for (const char *box : {"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot"}) {
        if (type == QByteArrayView(box))
            return true;
    }
    return false;
}

bool isTransportStream(QByteArrayView head, qsizetype offset, qsizetype packet)
{
    if (head.size() <= offset || head.at(offset) != 0x47)
        return false;
    // Sync bytes repeat every packet; one packet alone is a short stream.
    return head.size() <= offset + packet || head.at(offset + packet) == 0x47;
}

} // namespace

bool looksLikeVideo(QByteArrayView head)
{
    static const QByteArrayView asf("\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8);
    static const QByteArrayView matroska("\x1A\x45\xDF\xA3", 4);
    static const QByteArrayView mpegPack("\x00\x00\x01\xBA", 4);
    static const QByteArrayView mpegSequence("\x00\x00\x01\xB3", 4);
    if (head.startsWith(matroska) || head.startsWith(asf) || head.startsWith(mpegPack) ||
        head.startsWith(mpegSequence) || head.startsWith("FLV\x01") || head.startsWith("OggS"))
        return true;
    if (head.startsWith("RIFF") && head.size() >= 12 && head.sliced(8, 4) == QByteArrayView("AVI "))
        return true;
    // IVF (VP8, VP9, AV1); raw H.264, H.265 and MPEG-4 streams, which begin
    // with a start code; raw MJPEG.
    if (head.startsWith("DKIF") || head.startsWith(QByteArrayView("\x00\x00\x01", 3)) ||
        head.startsWith(QByteArrayView("\x00\x00\x00\x01", 4)) || head.startsWith("\xFF\xD8\xFF"))
        return true;
    // Transport streams, also with the 4-byte time code before each packet
    // that camcorders' M2TS and MTS files carry.
    return isBaseMedia(head) || isTransportStream(head, 0, kTransportPacket) ||
           isTransportStream(head, 4, kTransportPacket + 4);
}

bool isVideoFile(const QString &path)
{
    return looksLikeVideo(readRegularFileHead(path, 512));
}

} // namespace Quillmark
