// A window's control found by the name its design gives it, as a user's
// tool finds it: the windows keep their controls to themselves.
#pragma once

#include <QObject>
#include <QString>
#include <cstdio>
#include <cstdlib>

template <class T>
T *control(const QObject &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found) {
        std::fprintf(stderr, "the window has no control named %s\n", name);
        std::abort();
    }
    return found;
}
