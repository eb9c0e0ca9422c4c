// Rows in PostgreSQL's binary COPY format: the fastest way into a table,
// with nothing for the server to parse. Fields are big-endian, as the format
// requires; arrays carry their element type and a length per element.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <span>

// The server's numbers of the types a record's fields and arrays name.
namespace pgtype {
constexpr std::uint32_t int2 = 21, int4 = 23, int8 = 20, float8 = 701, timestamptz = 1184,
                        int2Array = 1005, int4Array = 1007, float8Array = 1022;
} // namespace pgtype

class CopyStream {
public:
    CopyStream() { clear(); }
    // Not a COPY stream but one array parameter of `count` records of the
    // composite type `type`: record(), then each field's type before it.
    static CopyStream records(std::uint32_t type, std::size_t count);
    void record(std::uint16_t fields);
    void type(std::uint32_t oid);
    const QByteArray &finishRecords();

    void row(std::uint16_t fields);
    void null();
    void int32(std::int32_t v);
    void int64(std::int64_t v);
    // Milliseconds since the epoch as a timestamptz.
    void time(qint64 ms);
    // Arrays of one dimension; a null flag per element (true: NULL).
    void int32Array(std::span<const std::int32_t> v, std::span<const std::uint8_t> isNull);
    void int16Array(std::span<const std::int16_t> v);
    // NaN elements are NULL.
    void float64Array(std::span<const double> v);

    // The whole stream: the trailer is added, and no row may follow.
    const QByteArray &finish();
    qint64 rows() const { return rows_; }
    void clear();

private:
    void arrayStart(std::size_t count, bool nulls, std::uint32_t type, int elementSize,
                    qsizetype present);

    void endRecord();

    QByteArray data_;
    qint64 rows_ = 0;
    qsizetype recordAt_ = -1; // where the open record's length goes
};
