#pragma once

#include <QByteArray>
#include <QString>

namespace Quillmark {

// Number texts shared by the format writers. All of them are independent of
// the process locale: a point is always the decimal separator.

// printf's %g with 6 significant digits (trailing zeros dropped, exponent form
// only for very small or large values), as a text stream writes reals by
// default. Non-finite values are written as 0.
QByteArray formatGeneral6(double value);
void appendGeneral6(QByteArray &out, double value);

// Fixed-point with exactly two decimals ("12.50").
QString formatFixed2(double value);

// Nearest integer, halves away from zero; NaN gives 0 and values beyond the
// 64-bit range are clamped to it.
qint64 roundHalfAwayFromZero(double value);

// roundHalfAwayFromZero as a signed decimal ("11", "-1").
QString roundedIntegerText(double value);

} // namespace Quillmark
