#include "x11/xinput.h"

#include <QGuiApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <X11/Xatom.h>
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

void modifiers(int mods, bool down)
{
    if (mods & Control)
        press(XK_Control_L, down);
    if (mods & Shift)
        press(XK_Shift_L, down);
    if (mods & Alt)
        press(XK_Alt_L, down);
}

void stroke(KeySym sym, int mods)
{
    modifiers(mods, true);
    press(sym, true);
    press(sym, false);
    modifiers(mods, false);
    XSync(display(), False);
}

void pointAt(QWidget *widget, QPoint at)
{
    if (at.x() < 0)
        at = widget->rect().center();
    const QPoint global = widget->mapToGlobal(at);
    XTestFakeMotionEvent(display(), -1, global.x(), global.y(), CurrentTime);
}

void button()
{
    XTestFakeButtonEvent(display(), 1, True, CurrentTime);
    XTestFakeButtonEvent(display(), 1, False, CurrentTime);
}

}

bool ready(QString *why)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        *why = QStringLiteral("these tests need the xcb platform, not ") + QGuiApplication::platformName();
        return false;
    }
    Display *d = XOpenDisplay(nullptr);
    if (!d) {
        *why = QStringLiteral("no X display (DISPLAY=%1)").arg(qEnvironmentVariable("DISPLAY"));
        return false;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    const bool xtest = XTestQueryExtension(d, &event, &error, &major, &minor);
    XCloseDisplay(d);
    if (!xtest)
        *why = QStringLiteral("the X display has no test extension");
    return xtest;
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
        if (u >= u'a' && u <= u'z')
            stroke(XK_a + (u - u'a'), None);
        else if (u >= u'A' && u <= u'Z')
            stroke(XK_a + (u - u'A'), Shift);
        else if (u >= u'0' && u <= u'9')
            stroke(XK_0 + (u - u'0'), None);
        else if (u == u' ')
            stroke(XK_space, None);
        else if (u == u'.')
            stroke(XK_period, None);
        else if (u == u'-')
            stroke(XK_minus, None);
        else if (u == u'+')
            stroke(XK_equal, Shift);
        else if (u == u'(')
            stroke(XK_9, Shift);
        else if (u == u')')
            stroke(XK_0, Shift);
        else
            throw std::runtime_error("character not on the test keyboard");
    }
}

void click(QWidget *widget, QPoint at)
{
    pointAt(widget, at);
    button();
    XSync(display(), False);
}

void doubleClick(QWidget *widget, QPoint at)
{
    pointAt(widget, at);
    button();
    button();
    XSync(display(), False);
}

bool waitFor(const std::function<bool()> &done) { return QTest::qWaitFor(done, 5000); }

namespace {

bool isFocusedDialog(Display *d, Window w, const QString &title)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(d, w, &attributes) || attributes.map_state != IsViewable)
        return false;
    char *name = nullptr;
    const bool named = XFetchName(d, w, &name) && name && QString::fromLatin1(name) == title;
    if (name)
        XFree(name);
    if (!named)
        return false;
    Atom actual = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char *data = nullptr;
    const Atom dialog = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    bool isDialog = false;
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), 0, 16, False, XA_ATOM, &actual, &format,
                           &count, &left, &data) == Success &&
        data) {
        const Atom *types = reinterpret_cast<const Atom *>(data);
        for (unsigned long k = 0; k < count; ++k)
            isDialog = isDialog || types[k] == dialog;
        XFree(data);
    }
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    return isDialog && focus == w;
}

}

bool waitForWindow(const QString &title, const std::function<bool()> &gaveUp)
{
    Display *d = display();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000) {
        if (gaveUp && gaveUp())
            return false;
        Window root = DefaultRootWindow(d), parent = None, *children = nullptr;
        unsigned count = 0;
        bool found = false;
        if (XQueryTree(d, root, &root, &parent, &children, &count)) {
            for (unsigned k = 0; k < count && !found; ++k)
                found = isFocusedDialog(d, children[k], title);
            if (children)
                XFree(children);
        }
        if (found)
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool showActive(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 5000);
}

}
