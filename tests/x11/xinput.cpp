#include "x11/xinput.h"

#include <QGuiApplication>
#include <QKeyEvent>
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
    XTestFakeKeyEvent(display(), XKeysymToKeycode(display(), sym), down ? True : False, CurrentTime);
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

// Tells when the program has had the release of a key.
struct Released final : QObject {
    explicit Released(unsigned code) : code(code) { qApp->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        seen = seen || (e->type() == QEvent::KeyRelease && static_cast<QKeyEvent *>(e)->nativeScanCode() == code);
        return false;
    }
    unsigned code;
    bool seen = false;
};

}

bool ready()
{
    int event = 0, error = 0, major = 0, minor = 0;
    return QGuiApplication::platformName() == QStringLiteral("xcb") && XTestQueryExtension(display(), &event, &error, &major, &minor);
}

void key(const char *name, int mods)
{
    stroke(XStringToKeysym(name), mods);
}

void type(const QString &text)
{
    // The key symbols of ASCII and Latin-1 are their own codes, the others'
    // the code plus 0x1000000; a capital on the keyboard is its small
    // letter's key with Shift, any other character a spare key's.
    static const KeyCode spare = XKeysymToKeycode(display(), XK_Pause); // a key no test presses
    for (const QChar c : text) {
        const KeySym sym = c.unicode() < 0x100 ? c.unicode() : 0x1000000 + c.unicode();
        if (c.unicode() < 0x80 && XKeysymToKeycode(display(), c.toLower().unicode())) {
            stroke(c.toLower().unicode(), c.isUpper() ? int(Shift) : int(None));
            continue;
        }
        KeySym both[] = {sym, sym};
        Released released(spare);
        XChangeKeyboardMapping(display(), spare, 2, both, 1);
        XTestFakeKeyEvent(display(), spare, True, CurrentTime);
        XTestFakeKeyEvent(display(), spare, False, CurrentTime);
        XSync(display(), False);
        // The program reads the map when it reads the key: the next
        // character changes it only after that.
        waitFor([&] { return released.seen; });
    }
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

void resize(QWidget *window, QSize size)
{
    XResizeWindow(display(), window->winId(), unsigned(size.width()), unsigned(size.height()));
    XSync(display(), False);
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
