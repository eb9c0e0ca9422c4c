#include "archive/copyrows.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The number of fields of a row: station, port, file, column, time, value.
constexpr std::uint16_t fields = 6;
// Time stamps count microseconds from 2000-01-01 00:00 UTC.
constexpr qint64 epoch2000Ms = 946684800000;

void put16(QByteArray &out, std::uint16_t v)
{
    const char b[2] = {static_cast<char>(v >> 8), static_cast<char>(v)};
    out.append(b, 2);
}

void put32(QByteArray &out, std::uint32_t v)
{
    const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    out.append(b, 4);
}

void put64(QByteArray &out, std::uint64_t v)
{
    put32(out, static_cast<std::uint32_t>(v >> 32));
    put32(out, static_cast<std::uint32_t>(v));
}

} // namespace

QByteArray CopyRows::textField(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    put32(out, static_cast<std::uint32_t>(utf8.size()));
    return out + utf8;
}

QByteArray CopyRows::rowStart(const QString &station, const QString &port, const QString &file)
{
    QByteArray out;
    put16(out, fields);
    return out + textField(station) + textField(port) + textField(file);
}

void CopyRows::clear()
{
    data_.clear();
    // Signature, flags and the length of a header extension there is none of.
    data_.append("PGCOPY\n\377\r\n\0", 11);
    put32(data_, 0);
    put32(data_, 0);
    rows_ = 0;
}

void CopyRows::add(const QByteArray &start, const QByteArray &column, qint64 ms, double value)
{
    data_.append(start);
    data_.append(column);
    put32(data_, 8);
    put64(data_, static_cast<std::uint64_t>((ms - epoch2000Ms) * 1000));
    if (std::isnan(value)) {
        put32(data_, 0xFFFFFFFFu); // NULL
    } else {
        put32(data_, 8);
        put64(data_, std::bit_cast<std::uint64_t>(value));
    }
    ++rows_;
}

const QByteArray &CopyRows::finish()
{
    put16(data_, 0xFFFF);
    return data_;
}
