// A fixed-length text field of a record: N single bytes in Windows-1252,
// padded with blanks and cut when a longer text is assigned.
#pragma once

#include "registry/cp1252.h"

#include <QString>
#include <algorithm>
#include <array>
#include <cstddef>

// Leading and trailing blanks removed; other characters (tabs, zero bytes)
// are part of the text, as the fields hold them.
inline QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

template <std::size_t N>
class FixedText {
public:
    // A field that was never assigned holds zero bytes, as in a fresh record.
    FixedText() { bytes_.fill(0); }
    FixedText(const QString &text) { assign(text); }

    void assign(const QString &text)
    {
        const std::string encoded = cp1252::encode(text);
        const std::size_t n = std::min(encoded.size(), N);
        std::copy_n(encoded.begin(), n, bytes_.begin());
        std::fill(bytes_.begin() + n, bytes_.end(), ' ');
    }
    FixedText &operator=(const QString &text)
    {
        assign(text);
        return *this;
    }

    // All N characters, trailing blanks (or zero bytes) included.
    QString text() const { return cp1252::decode(bytes_.data(), N); }
    QString trimmed() const { return trimBlanks(text()); }

    std::array<char, N> &bytes() { return bytes_; }
    const std::array<char, N> &bytes() const { return bytes_; }
    static constexpr std::size_t size() { return N; }

    bool operator==(const FixedText &) const = default;

private:
    std::array<char, N> bytes_;
};
