#include <QApplication>

int main(int argc, char *argv[])
{
    // Debian's GStreamer media back-end lacks the common decoders; use FFmpeg
    // unless the user chose a back-end.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmark"));
    QApplication::setOrganizationName(QStringLiteral("Brightwell"));
    return 0;
}
