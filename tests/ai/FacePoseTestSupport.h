#pragma once

// Fixture pieces of the face and pose tests: the generated models, pictures of
// known colours, and the reference results written by make_facepose_models.py.

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <cmath>

namespace FacePoseTest {

inline QString model(const char *name)
{
    return QStringLiteral(QM_FACEPOSE_MODELS_DIR "/") + QLatin1String(name);
}

inline QImage picture(int w, int h, const QColor &colour = QColor(90, 120, 150))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A 16 x 8 picture in four 8 x 4 quadrants of these colours (top left, top
// right, bottom left, bottom right).
inline const QColor quadrantColours[4] = {{200, 10, 20}, {30, 180, 40}, {50, 60, 170}, {90, 100, 110}};

inline QImage quadrantPicture()
{
    QImage image(16, 8, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 8, 4, quadrantColours[0]);
    painter.fillRect(8, 0, 8, 4, quadrantColours[1]);
    painter.fillRect(0, 4, 8, 4, quadrantColours[2]);
    painter.fillRect(8, 4, 8, 4, quadrantColours[3]);
    return image;
}

inline bool near(double a, double b, double tolerance = 1e-3)
{
    return std::abs(a - b) <= tolerance;
}

inline bool near(const QRectF &a, const QRectF &b, double tolerance = 1e-3)
{
    return near(a.x(), b.x(), tolerance) && near(a.y(), b.y(), tolerance) && near(a.width(), b.width(), tolerance) &&
           near(a.height(), b.height(), tolerance);
}

inline QString describe(const QRectF &r)
{
    return QStringLiteral("(%1, %2, %3, %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

inline QRectF rectOf(const QJsonValue &value)
{
    const QJsonArray a = value.toArray();
    return QRectF(a.at(0).toDouble(), a.at(1).toDouble(), a.at(2).toDouble(), a.at(3).toDouble());
}

// The reference results of one model family ("face_dfl", "palm").
inline QJsonObject reference(const char *family)
{
    QFile file(QStringLiteral(QM_FACEPOSE_MODELS_DIR "/reference.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QLatin1String(family)).toObject();
}

} // namespace FacePoseTest
