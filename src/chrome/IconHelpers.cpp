#include "chrome/IconHelpers.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace Quillmark {

namespace {

// The SVG bytes from the first "<svg" on: an XML declaration, byte-order mark or
// comment in front of the element is dropped.
QByteArray readSvgBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    const qsizetype start = bytes.indexOf("<svg");
    if (start > 0)
        bytes.remove(0, start);
    return bytes;
}

} // namespace

QPixmap renderSvgIcon(const QString &path, int size, const QColor &color)
{
    if (size <= 0)
        return {};
    QSvgRenderer renderer(readSvgBytes(path));
    if (!renderer.isValid())
        return {};

    QPixmap pixmap(size, size);
    pixmap.setDevicePixelRatio(1.0);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    {
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
    }
    return pixmap;
}

QIcon themedIcon(const QString &path, int size, bool dark)
{
    struct ModeColor {
        QIcon::Mode mode;
        const char *light;
        const char *dark;
    };
    static constexpr ModeColor table[] = {
        {QIcon::Normal, "#3a3a3a", "#f4f4f4"},
        {QIcon::Active, "#000000", "#ffffff"},
        {QIcon::Disabled, "#b0b0b0", "#747474"},
    };

    QIcon icon;
    for (const auto &row : table) {
        const QPixmap pixmap = renderSvgIcon(path, size, QColor(dark ? row.dark : row.light));
        if (!pixmap.isNull())
            icon.addPixmap(pixmap, row.mode, QIcon::Off);
    }
    return icon;
}

QPixmap renderSvgPixmap(const QString &path, int size)
{
    if (size <= 0)
        return {};
    QPixmap pixmap(size, size);
    pixmap.setDevicePixelRatio(1.0);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(readSvgBytes(path));
    if (!renderer.isValid())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    renderer.render(&painter, QRectF(0, 0, size, size));
    return pixmap;
}

} // namespace Quillmark
