// The library's twelve calls over raw buffers, made either in this process
// or by a bridge process on the program's behalf; the binding above types
// them and copies the buffers back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One call as sondaio_calls.h lays it out: the call, its word arguments and
// its buffers, each at least the size the call table gives.
struct Invocation {
    int call = 0;
    std::int16_t port = 0;
    std::int16_t out1 = 0;
    std::int16_t out2 = 0;
    std::int32_t count = 0;
    std::array<unsigned char *, 2> data{};
    std::array<std::size_t, 2> size{};
};

class LibraryCalls {
public:
    virtual ~LibraryCalls() = default;
    virtual std::int16_t invoke(const Invocation &call) = 0;
    // The bridge's process id; 0 when the library is in this process.
    virtual unsigned long process() const { return 0; }
};
