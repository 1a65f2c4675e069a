#pragma once

#include <QVariant>

// How stored values of one kind are read as another, the way the settings stores read them:
// numbers unchanged, texts by their leading decimal number, everything else as zero or false.
namespace Coercion {

// A number's integer part; a text's leading decimal digits after optional blanks and sign (clamped to
// the 64-bit range; 0 without digits); true as 1; anything else 0.
qint64 integerValue(const QVariant& value);
// A number unchanged; a text's leading decimal number; true as 1; anything else 0.
double doubleValue(const QVariant& value);
// A non-zero number; a text starting with Y, y, T, t or a non-zero digit; anything else false.
bool boolValue(const QVariant& value);

} // namespace Coercion
