#include "canvas/RegionMaskCache.h"

#include "formats/RunLengthMask.h"
#include "model/GeometryAttributes.h"

#include <QVariantList>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace Quillmark {

namespace {

// What tells one mask from another: its size and its counts as they are kept.
QString maskKey(const QVariant &mask)
{
    const QVariantMap members = mask.toMap();
    const QVariantList size = members.value(QStringLiteral("size")).toList();
    QString key;
    for (const QVariant &side : size)
        key += side.toString() + QLatin1Char('x');
    const QVariant counts = members.value(QStringLiteral("counts"));
    if (counts.typeId() != QMetaType::QVariantList)
        return key + QLatin1Char('t') + counts.toString();
    key += QLatin1Char('l');
    for (const QVariant &count : counts.toList())
        key += count.toString() + QLatin1Char(',');
    return key;
}

// The mask in `color` over `bounds`, scaled down to at most `maxPixels`.
QImage maskImage(const RunLengthMask &mask, const QRect &bounds, const QColor &color, qint64 maxPixels)
{
    const double pixels = double(bounds.width()) * double(bounds.height());
    const double scale = pixels > double(maxPixels) ? std::sqrt(double(maxPixels) / pixels) : 1.0;
    const QSize size(std::max(1, int(std::ceil(bounds.width() * scale))),
                     std::max(1, int(std::ceil(bounds.height() * scale))));
    AxisMap toPicture;
    toPicture.from = bounds.topLeft();
    toPicture.sx = toPicture.sy = scale;
    const RunLengthMask shown = scale == 1.0 && bounds.topLeft().isNull() ? mask : mask.mapped(toPicture, size);

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QRgb rgb = qPremultiply(color.rgba());
    const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    QRgb *bits = reinterpret_cast<QRgb *>(image.bits());
    for (const RunLengthMask::Run &run : shown.runs()) {
        if (run.x < 0 || run.x >= size.width())
            continue;
        const int bottom = std::min(run.bottom, size.height());
        for (int y = std::max(run.top, 0); y < bottom; ++y)
            bits[y * stride + run.x] = rgb;
    }
    return image;
}

} // namespace

RegionMaskCache::Entry *RegionMaskCache::entryOf(const QVariant &mask, const QString &key)
{
    if (Entry *entry = entries.object(key))
        return entry;
    auto *entry = new Entry;
    if (const std::optional<RunLengthMask> read = RunLengthMask::read(mask))
        entry->bounds = read->bounds();
    return entries.insert(key, entry, 1) ? entries.object(key) : nullptr;
}

const RegionMaskCache::Picture *RegionMaskCache::picture(const Annotation &annotation, const QColor &color)
{
    const auto mask = annotation.attributes.constFind(GeometryAttribute::Mask);
    if (mask == annotation.attributes.cend())
        return nullptr;
    const QString key = maskKey(*mask);
    Entry *entry = entryOf(*mask, key);
    if (!entry || entry->bounds.isEmpty())
        return nullptr;
    if (!entry->picture.image.isNull() && entry->color == color)
        return &entry->picture;
    const std::optional<RunLengthMask> read = RunLengthMask::read(*mask);
    if (!read)
        return nullptr;
    auto *drawn = new Entry;
    drawn->bounds = entry->bounds;
    drawn->color = color;
    drawn->picture.bounds = entry->bounds;
    drawn->picture.image = maskImage(*read, entry->bounds, color, MaxPicturePixels);
    const qsizetype cost = std::max<qsizetype>(1, drawn->picture.image.sizeInBytes());
    if (!entries.insert(key, drawn, cost))
        return nullptr;
    return &entries.object(key)->picture;
}

QRect RegionMaskCache::bounds(const Annotation &annotation)
{
    const auto mask = annotation.attributes.constFind(GeometryAttribute::Mask);
    if (mask == annotation.attributes.cend())
        return {};
    const Entry *entry = entryOf(*mask, maskKey(*mask));
    return entry ? entry->bounds : QRect();
}

} // namespace Quillmark
