#include "archive/copystream.h"

#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

// Time stamps count microseconds from 2000-01-01 00:00 UTC.
constexpr qint64 epoch2000Ms = 946684800000;

// Room for `n` more bytes at the end, to be written through the pointer:
// the stream grows by doubling, not by each field's few bytes.
char *grow(QByteArray &out, qsizetype n)
{
    const qsizetype at = out.size();
    if (out.capacity() < at + n)
        out.reserve(std::max(at + n, 2 * out.capacity()));
    out.resize(at + n);
    return out.data() + at;
}

char *at16(char *p, std::uint16_t v)
{
    qToBigEndian(v, p);
    return p + 2;
}

char *at32(char *p, std::uint32_t v)
{
    qToBigEndian(v, p);
    return p + 4;
}

char *at64(char *p, std::uint64_t v)
{
    qToBigEndian(v, p);
    return p + 8;
}

void put16(QByteArray &out, std::uint16_t v) { at16(grow(out, 2), v); }
void put32(QByteArray &out, std::uint32_t v) { at32(grow(out, 4), v); }
void put64(QByteArray &out, std::uint64_t v) { at64(grow(out, 8), v); }

} // namespace

void CopyStream::clear()
{
    data_.clear();
    // Signature, flags and the length of a header extension there is none of.
    data_.append("PGCOPY\n\377\r\n\0", 11);
    put32(data_, 0);
    put32(data_, 0);
    rows_ = 0;
}

void CopyStream::row(std::uint16_t fields)
{
    put16(data_, fields);
    ++rows_;
}

void CopyStream::null() { put32(data_, 0xFFFFFFFFu); }

void CopyStream::int32(std::int32_t v)
{
    put32(data_, 4);
    put32(data_, static_cast<std::uint32_t>(v));
}

void CopyStream::int64(std::int64_t v)
{
    put32(data_, 8);
    put64(data_, static_cast<std::uint64_t>(v));
}

void CopyStream::time(qint64 ms) { int64((ms - epoch2000Ms) * 1000); }

void CopyStream::arrayStart(std::size_t count, bool nulls, std::uint32_t type, int elementSize,
                            qsizetype present)
{
    // Dimensions, null flag, element type, then the one dimension's length
    // and lower bound; no dimension at all for an empty array.
    const qsizetype header = count ? 20 : 12;
    put32(data_, static_cast<std::uint32_t>(header + qsizetype(count) * 4 + present * elementSize));
    put32(data_, count ? 1 : 0);
    put32(data_, nulls ? 1 : 0);
    put32(data_, type);
    if (count) {
        put32(data_, static_cast<std::uint32_t>(count));
        put32(data_, 1);
    }
}

void CopyStream::int32Array(std::span<const std::int32_t> v, std::span<const std::uint8_t> isNull)
{
    qsizetype present = 0;
    for (const std::uint8_t n : isNull)
        present += !n;
    arrayStart(v.size(), present < qsizetype(v.size()), pgtype::int4, 4, present);
    char *p = grow(data_, qsizetype(v.size()) * 4 + present * 4);
    for (std::size_t k = 0; k < v.size(); ++k)
        p = isNull[k] ? at32(p, 0xFFFFFFFFu) : at32(at32(p, 4), static_cast<std::uint32_t>(v[k]));
}

void CopyStream::int16Array(std::span<const std::int16_t> v)
{
    arrayStart(v.size(), false, pgtype::int2, 2, qsizetype(v.size()));
    char *p = grow(data_, qsizetype(v.size()) * 6);
    for (const std::int16_t x : v)
        p = at16(at32(p, 2), static_cast<std::uint16_t>(x));
}

void CopyStream::float64Array(std::span<const double> v)
{
    qsizetype present = 0;
    for (const double x : v)
        present += !std::isnan(x);
    arrayStart(v.size(), present < qsizetype(v.size()), pgtype::float8, 8, present);
    char *p = grow(data_, qsizetype(v.size()) * 4 + present * 8);
    for (const double x : v)
        p = std::isnan(x) ? at32(p, 0xFFFFFFFFu)
                          : at64(at32(p, 8), std::bit_cast<std::uint64_t>(x));
}

const QByteArray &CopyStream::finish()
{
    put16(data_, 0xFFFF);
    return data_;
}

CopyStream CopyStream::records(std::uint32_t type, std::size_t count)
{
    CopyStream out;
    out.data_.clear();
    put32(out.data_, count ? 1 : 0);
    put32(out.data_, 0);
    put32(out.data_, type);
    if (count) {
        put32(out.data_, static_cast<std::uint32_t>(count));
        put32(out.data_, 1);
    }
    return out;
}

void CopyStream::endRecord()
{
    if (recordAt_ < 0)
        return;
    const auto length = static_cast<std::uint32_t>(data_.size() - recordAt_ - 4);
    for (int i = 0; i < 4; ++i)
        data_[recordAt_ + i] = static_cast<char>(length >> (24 - 8 * i));
    recordAt_ = -1;
}

void CopyStream::record(std::uint16_t fields)
{
    endRecord();
    recordAt_ = data_.size();
    put32(data_, 0);
    put32(data_, fields);
    ++rows_;
}

void CopyStream::type(std::uint32_t oid) { put32(data_, oid); }

const QByteArray &CopyStream::finishRecords()
{
    endRecord();
    return data_;
}
