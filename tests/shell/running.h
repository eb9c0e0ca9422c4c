// The main window running, on COM1 of the demo network unless told, and the
// devices put into its table through the pane.
#pragma once

#include "support/controls.h"
#include "support/windows.h"

#include <QLineEdit>

struct Running : MainFixture {
    // Started on this command line; not yet without one.
    explicit Running(const char *commandLine = "/1")
    {
        EXPECT_TRUE(!commandLine || start(QString::fromLatin1(commandLine)));
    }
    void add(const char *name, const char *serialBox)
    {
        control<QLineEdit>(*window, "nombre")->setText(QString::fromUtf8(name));
        control<QLineEdit>(*window, "SN")->setText(QString::fromLatin1(serialBox));
        window->anadir_Click();
    }
    QString names() const
    {
        QStringList list;
        for (int i = 1; i <= g.n(); ++i)
            list << g.dispositivos[i].nombre.trimmed();
        return list.join(QLatin1Char(','));
    }
    void tick(double seconds = 1)
    {
        clock.advance(seconds);
        window->Timer1_Timer();
    }
};
