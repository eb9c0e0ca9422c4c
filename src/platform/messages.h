// Modal message boxes with the program's title: a text, a button set, the
// button pressed. Tests answer them and record the texts.
#pragma once

#include <QString>

class Messages {
public:
    enum class Buttons { Ok, YesNo, OkCancel, RetryCancel };
    enum class Icon { None, Information };
    enum class Answer { Ok, Cancel, Yes, No, Retry };

    virtual ~Messages() = default;
    virtual Answer show(const QString &text, Buttons buttons = Buttons::Ok, Icon icon = Icon::None) = 0;
};

// Opens the desktop's file manager on a folder; does not wait for it.
class Explorer {
public:
    virtual ~Explorer() = default;
    virtual void open(const QString &folder) = 0;
};
