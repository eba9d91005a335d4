#include "video/PictureConverter.h"

#include <cmath>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace Quillmark {

namespace {

constexpr int strideAlignment = 64;
// libswscale may write a little past the last line with its vector code.
constexpr int tailPadding = 64;

void freeBuffer(void *buffer)
{
    av_free(buffer);
}

// The colour matrix and range the frame says it was coded with.
void describeColours(SwsContext *context, const AVFrame *frame)
{
    int matrix = SWS_CS_DEFAULT;
    switch (frame->colorspace) {
    case AVCOL_SPC_BT709: matrix = SWS_CS_ITU709; break;
    case AVCOL_SPC_FCC: matrix = SWS_CS_FCC; break;
    case AVCOL_SPC_SMPTE240M: matrix = SWS_CS_SMPTE240M; break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: matrix = SWS_CS_BT2020; break;
    default: break;
    }
    const bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    sws_setColorspaceDetails(context, sws_getCoefficients(matrix), fullRange ? 1 : 0,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
}

// 8-bit sources convert as FFmpeg's command line converts them, bit for bit:
// with its bicubic chroma, which the fast path ignores but the general one
// (an odd number of rows in 4:2:0) uses. Deeper ones keep their chroma: every
// pixel's own, interpolated across as well as down, and rounded accurately
// instead of truncated on the way to 8 bits.
int scalingFlags(AVPixelFormat format)
{
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    const bool deep = descriptor && descriptor->nb_components > 0 && descriptor->comp[0].depth > 8;
    return deep ? SWS_BICUBIC | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND : SWS_BICUBIC;
}

// -1, 0 or 1: the sign of a matrix entry that is clearly not zero.
int axisSign(double value, double other)
{
    if (std::fabs(value) < std::fabs(other) || !std::isfinite(value) || value == 0.0)
        return 0;
    return value > 0 ? 1 : -1;
}

} // namespace

PictureConverter::~PictureConverter()
{
    sws_freeContext(context);
}

void PictureConverter::setOrientation(double a, double b, double c, double d)
{
    // The nearest of the eight quarter-turn orientations: each column maps to
    // the axis it lies closest to.
    const int m11 = axisSign(a, b);
    const int m12 = axisSign(b, a);
    const int m21 = axisSign(c, d);
    const int m22 = axisSign(d, c);
    const bool valid = (m11 != 0) != (m12 != 0) && (m21 != 0) != (m22 != 0) && (m11 != 0) == (m22 != 0);
    orientation = valid ? QTransform(m11, m12, m21, m22, 0, 0) : QTransform();
}

QImage PictureConverter::convert(const AVFrame *frame)
{
    const QImage image = convertColours(frame);
    if (image.isNull() || isUpright())
        return image;
    return image.transformed(orientation);
}

QImage PictureConverter::convertColours(const AVFrame *frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || frame->format < 0)
        return {};
    const auto format = AVPixelFormat(frame->format);
    context = sws_getCachedContext(context, frame->width, frame->height, format, frame->width, frame->height,
                                   AV_PIX_FMT_BGRA, scalingFlags(format), nullptr, nullptr, nullptr);
    if (!context)
        return {};
    describeColours(context, frame);

    const qsizetype stride = (qsizetype(frame->width) * 4 + strideAlignment - 1) / strideAlignment * strideAlignment;
    const qsizetype bytes = stride * frame->height + tailPadding;
    auto *buffer = static_cast<uchar *>(av_malloc(size_t(bytes)));
    if (!buffer)
        return {};
    uint8_t *planes[4] = {buffer, nullptr, nullptr, nullptr};
    int strides[4] = {int(stride), 0, 0, 0};
    if (sws_scale(context, frame->data, frame->linesize, 0, frame->height, planes, strides) != frame->height) {
        av_free(buffer);
        return {};
    }
    // BGRA in memory with alpha 255 is Qt's RGB32 on a little-endian machine.
    return QImage(buffer, frame->width, frame->height, stride, QImage::Format_RGB32, freeBuffer, buffer);
}

} // namespace Quillmark
