#pragma once

#include <QImage>

#include <array>
#include <span>
#include <vector>

namespace Quillmark {

// A picture fitted into a model's input without distortion: scaled by `scale`
// and centred on a grey (114, 114, 114) canvas. A point (u, v) of the canvas maps
// back to the source as ((u - padX) / scale, (v - padY) / scale).
struct LetterboxResult {
    QImage image;       // exactly the target size, Format_RGB888
    float scale = 1.0f; // source pixels to canvas pixels
    int padX = 0;       // border columns left of the picture
    int padY = 0;       // border rows above the picture
};

// Fits `source` into targetWidth x targetHeight, scaled as Qt's smooth scaling
// of its RGB888 conversion scales it (to within a grey level; a large picture
// that shrinks is area-averaged from its own pixel layout without converting
// it first). Alpha is dropped and grey formats become RGB. A null source gives
// a blank grey canvas with scale 1 and no padding. When the picture cannot be converted or scaled (out of memory) the
// result's image is null: callers must not run a model on it.
LetterboxResult letterboxImage(const QImage &source, int targetWidth, int targetHeight);

// Planar float tensor of an RGB888 picture: the R plane, then G, then B, each row
// by row, values byte / 255. Index of channel c, row y, column x:
// c * width * height + y * width + x. A picture of another format is converted to
// RGB888 first; a null picture gives an empty vector.
std::vector<float> imageToChwTensor(const QImage &image);

// `source` as RGB888 at width x height without keeping its aspect ratio, as
// Qt's smooth scaling of its RGB888 conversion gives it (to within a grey
// level; a 12 MP photo is not converted whole first).
QImage smoothScaledRgb888(const QImage &source, int width, int height);

// A float for every byte value of each channel (R, G, B), e.g. (byte - mean) / std.
using ChannelLookup = std::array<std::array<float, 256>, 3>;

// Writes an RGB888 picture into three planes (R, G, B) of tensorWidth x
// tensorHeight floats, at their top-left corner, each byte through its channel's
// lookup; cells beyond the picture are left as they are. False, with nothing
// written, when the picture is not RGB888, is larger than a plane, or `tensor`
// holds fewer than three planes.
bool writePlanarTensor(const QImage &rgb888, const ChannelLookup &lookup, std::span<float> tensor,
                       int tensorWidth, int tensorHeight);

} // namespace Quillmark
