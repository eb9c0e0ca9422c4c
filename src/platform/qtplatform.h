// The window system's side of the platform interfaces: message boxes with
// the program's title and Spanish buttons, and the desktop's file manager.
#pragma once

#include "platform/messages.h"

class QLineEdit;
class QWidget;

class QtMessages final : public Messages {
public:
    Answer show(const QString &text, Buttons buttons = Buttons::Ok,
                Icon icon = Icon::None) override;
};

class QtExplorer final : public Explorer {
public:
    void open(const QString &folder) override;
};

// The program's fonts: the window font and the lists' fixed-pitch font.
void applyProgramFont(QWidget *window);

// Paints a window that was just shown before the program goes on with slow
// work: waits (a second at most) for the window system to put it on the
// screen, then paints it. Input stays queued meanwhile.
void pintaAhora(QWidget *window);

// A box whose text goes into a record's Windows-1252 field refuses what the
// field cannot hold ("Ω", an emoji), typed or pasted, rather than letting
// the file turn it into "?".
void soloWindows1252(QLineEdit *box);

// The toolkit's own texts in Spanish (the file dialogs and their
// questions, the boxes' context menus): its translations from the
// program's folder, else from the system's. False when neither has them.
bool cargaTraducciones();
