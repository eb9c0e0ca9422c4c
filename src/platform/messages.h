// Modal message boxes with the program's title: a text, a button set, the
// button pressed. Tests answer them and record the texts.
#pragma once

#include <QString>

class Messages {
public:
    // Escape or the box's close button give a question's safe answer, the one
    // that discards nothing and changes no device: No, Cancel, or Retry (the
    // waiting lines are kept). A question whose both answers act is asked
    // with YesNoOrBack: Sí and No, and closing it answers Cancel, back to the
    // program. A question whose Sí throws something away (unsaved edits, a
    // file) is asked with YesNoDefaultNo: Return answers No.
    enum class Buttons { Ok, YesNo, YesNoOrBack, OkCancel, RetryCancel, YesNoDefaultNo };
    enum class Icon { None, Information };
    enum class Answer { Ok, Cancel, Yes, No, Retry };

    virtual ~Messages() = default;
    virtual Answer show(const QString &text, Buttons buttons = Buttons::Ok,
                        Icon icon = Icon::None) = 0;
};

// Opens the desktop's file manager on a folder; does not wait for it.
class Explorer {
public:
    virtual ~Explorer() = default;
    virtual void open(const QString &folder) = 0;
};
