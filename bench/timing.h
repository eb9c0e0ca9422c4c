// Milliseconds a piece of work takes, for the benchmarks' figures.
#pragma once

#include <QElapsedTimer>

template <typename Fn>
double timed(Fn fn)
{
    QElapsedTimer t;
    t.start();
    fn();
    return t.nsecsElapsed() / 1e6;
}
