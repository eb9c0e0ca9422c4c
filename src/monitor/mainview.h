// What the polling core asks of the main window: its timer, the device list,
// the warning list, the caption and a moment for pending window events.
#pragma once

#include <QString>
#include <QStringList>

class MainView {
public:
    virtual ~MainView() = default;
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual void setTimerInterval(int milliseconds) = 0;
    // Rebuild the device list in red (readings in progress) or normal colour.
    virtual void actualizando() = 0;
    virtual void listado() = 0;
    // Let the window system process pending events (the tick's yield).
    virtual void yieldEvents() = 0;
    // Between two relay writes: the window may paint, the user may not act.
    virtual void repinta() {}
    // Before each read of a tick: the k-th read of a table of n devices.
    virtual void leyendo(int k, int n)
    {
        (void)k;
        (void)n;
    }
    virtual void showAlarmas(const QStringList &lines) = 0;
    virtual void setCaption(const QString &caption) = 0;
};
