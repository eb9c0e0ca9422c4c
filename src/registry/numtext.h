// Number texts of the whole program: readings, limits and gains as the lists,
// the capture files and the dialogs show them, and numbers typed back in.
// None of these depends on the system locale.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The text of a single-precision value: at most 7 significant digits.
//  - "." as point, "-" for negatives, no "0" before the point when the
//    magnitude is below 1 (.5, -.25), trailing zeros and a trailing point
//    dropped, whole values without point (20);
//  - the value is first rounded to 7 significant digits; with X its decimal
//    exponent after that rounding, the plain form is used when -4 <= X < 7,
//    otherwise the exponent form: mantissa, "E", sign, at least two digits
//    (12345678 -> 1.234568E+07, 1e7 -> 1E+07, .00001 -> 1E-05,
//    .0001 -> .0001, 9999999 -> 9999999);
//  - zero and minus zero -> "0"; NaN -> "NaN", infinities -> "Inf", "-Inf".
// Deleted overloads stop a double from silently taking the 7-digit form and
// a float from showing its binary tail in the 15-digit form.
QString txtsimple(float x);
QString txtsimple(double) = delete;
// The same rules for double precision with 15 significant digits (plain when
// -4 <= X < 15).
QString txtdoble(double x);
QString txtdoble(float) = delete;

// txtsimple with the first "." made "," (21,5  20  ,5), for the texts
// written with a decimal comma.
QString numcoma(float x);
QString numcoma(double) = delete;

// The number at the start of a text: blanks (space, tab, CR, LF) skipped
// wherever they are, optional sign, digits with an optional "." point, optional
// exponent (E, e, D or d, optional sign, digits; an exponent letter without
// digits ends the number before it). Anything after the number is ignored;
// no number at all gives 0. A magnitude beyond double range gives +-infinity,
// one below it gives 0.
double valnum(const QString &text);

// Rounds to a 16-bit word with halves to even (2.5 -> 2, 3.5 -> 4,
// -12.5 -> -12). Empty when the rounded value lies outside -32768..32767 or
// the value is NaN, so the caller can refuse it.
std::optional<std::int16_t> redondea16(double x);
