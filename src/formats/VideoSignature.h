#pragma once

#include <QByteArrayView>
#include <QString>

namespace Quillmark {

// Whether bytes begin as a video file of a container the program opens does
// (MP4 and QuickTime, Matroska and WebM, AVI, ASF and WMV, FLV, Ogg, MPEG
// program and transport streams, M2TS, IVF, raw H.264, H.265, MPEG and MJPEG
// streams). A dataset or project may name any file as a video; only videos
// are stored. `head` needs the first 512 bytes, or all
// of a shorter file.
bool looksLikeVideo(QByteArrayView head);

// looksLikeVideo for the first bytes of a regular file.
bool isVideoFile(const QString &path);

} // namespace Quillmark
