// Renders every SVG of an input folder to a PNG of the same base name in an
// output folder, at the size the SVG declares (or scaled by --scale).
//
//   render-images <art folder> <output folder> [--scale N]

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTextStream>

namespace {

bool renderOne(const QFileInfo &svg, const QDir &out, double scale, QTextStream &err)
{
    QSvgRenderer renderer(svg.absoluteFilePath());
    if (!renderer.isValid()) {
        err << "invalid SVG: " << svg.filePath() << '\n';
        return false;
    }
    const QSize size = (QSizeF(renderer.defaultSize()) * scale).toSize();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    QSaveFile file(out.filePath(svg.completeBaseName() + QStringLiteral(".png")));
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        err << "cannot write " << file.fileName() << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        err << "usage: render-images <art folder> <output folder> [--scale N]\n";
        return 2;
    }
    double scale = 1.0;
    const qsizetype scaleAt = args.indexOf(QStringLiteral("--scale"));
    if (scaleAt > 0 && scaleAt + 1 < args.size())
        scale = qBound(0.1, args.at(scaleAt + 1).toDouble(), 8.0);

    const QDir in(args.at(1));
    QDir out(args.at(2));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        err << "cannot create " << out.path() << '\n';
        return 1;
    }
    int failures = 0;
    const QFileInfoList files = in.entryInfoList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    for (const QFileInfo &svg : files) {
        if (!renderOne(svg, out, scale, err))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
