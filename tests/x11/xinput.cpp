#include "x11/xinput.h"

#include <QGuiApplication>
#include <QTest>
#include <QWidget>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <stdexcept>
#include <string>

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
    const KeyCode code = XKeysymToKeycode(display(), sym);
    if (code == 0)
        throw std::runtime_error("no key for this symbol");
    XTestFakeKeyEvent(display(), code, down ? True : False, CurrentTime);
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

bool ready(QString *why)
{
    int event = 0, error = 0, major = 0, minor = 0;
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        *why = QStringLiteral("these tests need the xcb platform, not ") + QGuiApplication::platformName();
    else if (!XTestQueryExtension(display(), &event, &error, &major, &minor))
        *why = QStringLiteral("the X display has no test extension");
    else
        return true;
    return false;
}

void key(const char *name, int mods)
{
    const KeySym sym = XStringToKeysym(name);
    if (sym == NoSymbol)
        throw std::runtime_error(std::string("unknown key ") + name);
    stroke(sym, mods);
}

void type(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= u'A' && u <= u'Z')
            stroke(XK_a + (u - u'A'), Shift);
        else if ((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u' ' || u == u'-' || u == u'.')
            stroke(u == u' ' ? XK_space : u == u'-' ? XK_minus : u == u'.' ? XK_period : KeySym(u), None);
        else
            throw std::runtime_error("character not on the test keyboard");
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

bool waitFor(const std::function<bool()> &done) { return QTest::qWaitFor(done, 5000); }

bool showActive(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 5000);
}

}
