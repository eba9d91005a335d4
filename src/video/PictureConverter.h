#pragma once

#include <QImage>

struct AVFrame;
struct SwsContext;

namespace Quillmark {

// Turns decoded frames of any size and pixel format into upright RGB32
// pictures: the colours converted by libswscale into a buffer of the picture's
// own (aligned) stride, then turned by the stream's display rotation.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter &) = delete;
    PictureConverter &operator=(const PictureConverter &) = delete;

    // Clockwise degrees (0, 90, 180 or 270) that make the picture upright.
    void setRotation(int degrees) { rotation = degrees; }
    int rotationDegrees() const { return rotation; }

    // A null image when the frame cannot be converted.
    QImage convert(const AVFrame *frame);

private:
    QImage convertColours(const AVFrame *frame);
    QImage turned(const QImage &image) const;

    SwsContext *context = nullptr;
    int rotation = 0;
};

} // namespace Quillmark
