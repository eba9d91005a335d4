#include "app/Splash.h"

#include <QFontMetrics>
#include <QPainter>
#include <QSplashScreen>
#include <QTimer>

namespace Quillmark::Splash {

QPixmap makeSplashPixmap(const QPixmap &picture, const QString &version)
{
    if (picture.isNull())
        return picture;
    QPixmap scaled = picture.scaled(700, 420, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    paintVersionBadge(scaled, version);
    return scaled;
}

void paintVersionBadge(QPixmap &pixmap, const QString &version)
{
    if (pixmap.isNull())
        return;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPointSizeF(10.5);
    font.setWeight(QFont::Weight(500));
    painter.setFont(font);
    const QFontMetrics metrics(font);

    const QString text = QStringLiteral("v%1").arg(version);
    const int advance = metrics.horizontalAdvance(text);
    const int lineHeight = metrics.height();
    const int x = pixmap.width() - advance - 40;
    const int y = pixmap.height() - lineHeight - 26;
    const QRectF box(x, y, advance + 24, lineHeight + 10);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 140));
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.setPen(QColor(255, 255, 255, 210));
    painter.drawText(QPointF(x + 12, y + metrics.ascent() + 5), text);
}

void handOver(QSplashScreen *splash, QWidget *window)
{
    QTimer::singleShot(showWindowAfterMs, Qt::PreciseTimer, [splash, window] {
        window->show();
        QTimer::singleShot(finishSplashAfterMs, Qt::PreciseTimer, [splash, window] {
            splash->finish(window);
            splash->deleteLater();
        });
    });
}

} // namespace Quillmark::Splash
