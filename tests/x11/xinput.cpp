#include "x11/xinput.h"

#include <QGuiApplication>
#include <QTest>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef KeyRelease // Xlib's event code, which hides the toolkit's

#include <stdexcept>

namespace xinput {
namespace {

Display *display()
{
    static Display *d = XOpenDisplay(nullptr);
    if (!d)
        throw std::runtime_error("no X display");
    return d;
}

void press(KeySym sym, bool down)
{
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), sym), down ? True : False,
                      CurrentTime);
}

void stroke(KeySym sym, int mods)
{
    const KeySym held[] = {XK_Control_L, XK_Shift_L, XK_Alt_L};
    for (int k = 0; k < 3; ++k)
        if (mods & (1 << k))
            press(held[k], true);
    press(sym, true);
    press(sym, false);
    for (int k = 0; k < 3; ++k)
        if (mods & (1 << k))
            press(held[k], false);
    XSync(display(), False);
}

}

bool ready()
{
    int event = 0, error = 0, major = 0, minor = 0;
    return QGuiApplication::platformName() == QStringLiteral("xcb") &&
        XTestQueryExtension(display(), &event, &error, &major, &minor);
}

void key(const char *name, int mods) { stroke(XStringToKeysym(name), mods); }

void type(const QString &text)
{
    // The key symbols of ASCII are its codes; a capital is its small
    // letter's key with Shift.
    for (const QChar c : text)
        stroke(c.toLower().unicode(), c.isUpper() ? int(Shift) : int(None));
}

void click(QWidget *widget, QPoint at, int times)
{
    const QPoint global = widget->mapToGlobal(at.x() < 0 ? widget->rect().center() : at);
    XTestFakeMotionEvent(display(), -1, global.x(), global.y(), CurrentTime);
    for (int k = 0; k < times; ++k) {
        XTestFakeButtonEvent(display(), 1, True, CurrentTime);
        XTestFakeButtonEvent(display(), 1, False, CurrentTime);
    }
    XSync(display(), False);
}

QRect geometry(QWidget *window)
{
    XWindowAttributes a{};
    XGetWindowAttributes(display(), window->winId(), &a);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display(), window->winId(), a.root, 0, 0, &x, &y, &child);
    return QRect(x, y, a.width, a.height);
}

bool waitFor(const std::function<bool()> &done) { return QTest::qWaitFor(done, 5000); }

bool showActive(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 5000);
}

}
