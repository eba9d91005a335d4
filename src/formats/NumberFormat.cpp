#include "formats/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace Quillmark {

void appendGeneral6(QByteArray &out, double value)
{
    if (!std::isfinite(value))
        value = 0.0;
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
    out.append(buffer, result.ptr - buffer);
}

QByteArray formatGeneral6(double value)
{
    QByteArray out;
    appendGeneral6(out, value);
    return out;
}

QString formatFixed2(double value)
{
    if (!std::isfinite(value))
        value = 0.0;
    return QString::number(value, 'f', 2);
}

qint64 roundHalfAwayFromZero(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = std::round(value);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (rounded >= limit)
        return std::numeric_limits<qint64>::max();
    if (rounded < -limit)
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(rounded);
}

QString roundedIntegerText(double value)
{
    return QString::number(roundHalfAwayFromZero(value));
}

} // namespace Quillmark
