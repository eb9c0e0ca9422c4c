// What the archive knows of a capture file's archived part, and a batch of
// its lines on the way to the database.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

// Port folder name and file name.
using FileKey = std::pair<QString, QString>;

// FNV-1a over the bytes of a file: a hash that can go on where it stopped,
// so a restart needs only the stored state, not the bytes before it.
constexpr std::uint64_t hashStart = 14695981039346656037ull;
std::uint64_t hashBytes(std::uint64_t h, const char *p, qsizetype n);

// A point of a capture file just past a whole line.
struct Position {
    qint64 offset = 0; // bytes before it
    qint64 lines = 0; // lines before it
    std::uint64_t hash = hashStart; // of the bytes before it
    qint64 header = -1; // where the header line in force starts; -1: none yet
    bool operator==(const Position &) const = default;
};

// How far a file is archived, as the database keeps it.
struct Progress {
    Position at;
    bool hashKnown = true; // false: archived by the first design, its hash never taken
    std::uint64_t sample = 0; // hash of the start, the header and the end before `at`
    QByteArray state; // the capture reader's state at `at`; empty: not known
    qint64 byKeyUntil = 0; // a replaced file: its lines before this replace stored ones
    bool operator==(const Progress &) const = default;
};

// A line that gave readings.
struct BatchLine {
    qint64 ms = 0; // its instant
    int set = 0; // its header, by the reader's count
    qint64 number = 0; // its line number in the file, from 1
    Position end; // the file just past it
    std::size_t values = 0; // where its values start in Batch::values, NaN for ERR
    std::size_t count = 0; // its values, one per column
};

// The lines read from a file since its archived point.
struct Batch {
    FileKey key;
    Progress before, after;
    qint64 start =
        0; // where reading started: before `before` when the file is read again from its start
    bool byKey = false; // lines may be stored already: stored ones are replaced
    qint64 byKeyUntil = 0; // the file's stored lines are replaced up to here, as it was read
    std::vector<BatchLine> lines;
    std::vector<double> values;
    // By value as `values`: its code as the text gave it (see
    // capturelines::values); none when not known.
    std::vector<std::int32_t> codes;
    bool empty() const { return lines.empty() && after == before; }
    std::span<const double> valuesOf(const BatchLine &l) const
    {
        return {values.data() + l.values, l.count};
    }
    std::span<const std::int32_t> codesOf(const BatchLine &l) const
    {
        return l.values + l.count <= codes.size()
            ? std::span<const std::int32_t>(codes.data() + l.values, l.count)
            : std::span<const std::int32_t>();
    }
};
