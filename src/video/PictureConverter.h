#pragma once

#include <QImage>
#include <QTransform>

struct AVFrame;
struct SwsContext;

namespace Quillmark {

// Turns decoded frames of any size and pixel format into upright RGB32
// pictures: the colours converted by libswscale into a buffer of the picture's
// own (aligned) stride, then turned and mirrored as the stream's display
// matrix says. Sources deeper than 8 bits are converted with full chroma
// interpolation and accurate rounding; 8-bit ones the way FFmpeg's own tools
// convert them, bit for bit.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter &) = delete;
    PictureConverter &operator=(const PictureConverter &) = delete;

    // The display orientation: a quarter turn or half turn, a mirror, or both,
    // taken from the 2 x 2 part of a display matrix (FFmpeg's layout: a point
    // (p, q) of the stored frame is shown at (a p + c q, b p + d q)).
    void setOrientation(double a, double b, double c, double d);
    // The stored frame's sides are swapped when shown.
    bool turnsSideways() const { return orientation.m11() == 0; }
    bool isUpright() const { return orientation.isIdentity(); }

    // A null image when the frame cannot be converted.
    QImage convert(const AVFrame *frame);

private:
    QImage convertColours(const AVFrame *frame);

    SwsContext *context = nullptr;
    QTransform orientation;
};

} // namespace Quillmark
