#pragma once

#include <QString>
#include <QtGlobal>

// Text and number helpers used throughout the program.

// The value as text with at most one leading and one trailing blank removed.
QString TrimBlank(const QString &value);
QString TrimBlank(qint64 value);

// Left-pads the integer part (before the first "," or else the first ".") with "0" to width.
QString PadNumber(const QString &text, qint16 width);
QString PadNumber(qint64 value, qint16 width);

// On a tie the first argument.
qint32 Max(qint32 a, qint32 b);
qint32 Min(qint32 a, qint32 b);

// Case-insensitive, overlapping matches count.
int CountText(const QString &text, const QString &search);

// 1-based start; the field ends before the count-th separator found from start on.
QString ExtractField(const QString &text, const QString &separator, int start, int count, bool exact);

// Every non-overlapping, case-sensitive occurrence removed, left to right.
QString RemoveText(const QString &text, const QString &search);

// The number at the start of a text: leading blanks skipped, optional sign, "." as the
// decimal point, stops at the first character that cannot continue it; none gives 0.
double LeadingNumber(const QString &text);

// The whole text as a 16-bit integer: blanks around allowed, fractions rounded half to even;
// any other text, empty text or a value outside -32768..32767 fails.
bool TextToInt16(const QString &text, qint16 &value);

// Rounding half to even; false (and value untouched) when the result does not fit.
bool RoundToInt16(double number, qint16 &value);
bool RoundToInt32(double number, qint32 &value);

// The separator that ends ArchivePath and joins paths' parts.
QChar PathSeparator();

// path with the separator at its end; an empty text gives the separator alone.
QString AddBackslash(const QString &path);
