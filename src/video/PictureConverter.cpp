#include "video/PictureConverter.h"

#include <QTransform>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
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

} // namespace

PictureConverter::~PictureConverter()
{
    sws_freeContext(context);
}

QImage PictureConverter::convert(const AVFrame *frame)
{
    const QImage image = convertColours(frame);
    if (image.isNull() || rotation == 0)
        return image;
    return turned(image);
}

QImage PictureConverter::convertColours(const AVFrame *frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || frame->format < 0)
        return {};
    const auto format = AVPixelFormat(frame->format);
    context = sws_getCachedContext(context, frame->width, frame->height, format, frame->width, frame->height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr,
                                   nullptr, nullptr);
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

QImage PictureConverter::turned(const QImage &image) const
{
    return image.transformed(QTransform().rotate(rotation));
}

} // namespace Quillmark
