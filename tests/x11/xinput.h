// Real input on the X display the tests run on: key presses and mouse
// clicks go through the X server (its test extension), so the toolkit
// handles them as it handles a user's, focus, shortcuts and all.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <functional>

class QWidget;

namespace xinput {

// The display takes synthetic input: the xcb platform on a server with
// the test extension.
bool ready();

// A key by its X name ("Return", "Delete", "Tab", "Down", "e"), with Control,
// Shift or Alt held when asked.
enum Mod { None = 0, Control = 1, Shift = 2, Alt = 4 };
void key(const char *name, int mods = None);
// Text as typed on the US keyboard: letters, digits and blanks.
void type(const QString &text);
// The left button at a point of a widget (its centre when none is given),
// once or twice.
void click(QWidget *widget, QPoint at = QPoint(-1, -1), int times = 1);

// A window's place and inner size on the screen, as the X server has them.
QRect geometry(QWidget *window);

// Handles the program's events until `done` holds (five seconds at most);
// false when it never did.
bool waitFor(const std::function<bool()> &done);
// Shows a window and waits until it is on the screen with the input focus.
bool showActive(QWidget *window);

}
