// The main window's capture menu: starting and stopping a capture, and the
// questions a capture line that did not reach the disk asks once the tick
// is over.
#include "shell/principal.h"

#include "monitor/capture.h"
#include "monitor/monitor.h"
#include "platform/messages.h"
#include "registry/general.h"
#include "shell/startup.h"
#include "viewer/graficas.h"

#include <QAction>
#include <QMenu>

// A capture line that did not reach the disk, or readings the file will
// never get. The questions run outside the tick: while one is up the timer
// keeps ticking, so devices are read and relays written whatever the user
// does with it.
void principal::handleCaptureFaults()
{
    if (asking_)
        return;
    asking_ = true;
    for (;;) {
        if (!failedWrite_) {
            const QString perdidas = captura_->takeNotice();
            if (perdidas.isEmpty())
                break;
            platform_.messages.show(perdidas);
            continue;
        }
        const Captura::Escritura r = *failedWrite_;
        failedWrite_.reset();
        switch (r.estado) {
        case Captura::Estado::Escrito:
            break;
        case Captura::Estado::Ocupado:
            // Another program holds the file: tried again once it is closed.
            platform_.messages.show(r.mensaje);
            retryCapture();
            break;
        case Captura::Estado::Denegado:
            if (platform_.messages.show(
                    r.mensaje +
                        QStringLiteral("\r\nReintentar vuelve a escribir las lecturas; "
                                       "Cancelar detiene la captura."),
                    Messages::Buttons::RetryCancel) == Messages::Answer::Retry)
                retryCapture();
            else
                stopCapture();
            break;
        case Captura::Estado::Fallo: {
            stopCapture();
            QString text = r.mensaje +
                QStringLiteral("\r\nLa captura se ha detenido. La lectura de los "
                               "dispositivos y los relés siguen funcionando.");
            if (const QString perdidas = captura_->takeNotice(); !perdidas.isEmpty())
                text += QStringLiteral("\r\n") + perdidas;
            platform_.messages.show(text);
            break;
        }
        }
    }
    asking_ = false;
}

void principal::retryCapture()
{
    // A refusal the ticks met while the question was up is stale: the retry
    // tells. A capture they had to stop is told.
    if (failedWrite_ && failedWrite_->estado != Captura::Estado::Fallo)
        failedWrite_.reset();
    if (g_.fichero.isEmpty())
        return;
    const Captura::Escritura r = captura_->flush();
    if (r.estado != Captura::Estado::Escrito)
        failedWrite_ = r;
}

void principal::mnucapturar_Click()
{
    if (ended_)
        return;
    // Starting or stopping resets the polling and ticks at once; in the
    // middle of a tick that would nest a tick and let the running one write
    // a line stamped before the capture began. It waits for the tick's end.
    if (ticking_) {
        captureToggleWaiting_ = !captureToggleWaiting_;
        return;
    }
    if (!g_.fichero.isEmpty()) {
        stopCapture();
        handleCaptureFaults();
        return;
    }
    // The timer goes on at the interval it had while the start asks its
    // questions: polling never waits for an answer (at an unattended start
    // there may be none). No capture runs until they are answered.
    const bool started = captura_->start(platform_.messages, [this] {
        const configfile::SaveResult result = guarda();
        if (result.status == configfile::SaveStatus::Failed)
            platform_.messages.show(result.message);
        return result.status == configfile::SaveStatus::Saved ||
            result.status == configfile::SaveStatus::NothingToDo;
    });
    if (!started)
        return;
    setCaption();
    mnucapturar->setChecked(true);
    if (mnueditar->isChecked())
        mnueditar_Click();
    // The table cannot be edited, saved or reloaded while its columns are
    // being captured.
    edicion->setEnabled(false);
    fichero->setEnabled(false);
    monitor_->reinicia();
    Timer1_Timer();
    // A stop asked for during that first tick has already run.
    if (!g_.fichero.isEmpty())
        setTimerInterval(1000);
}

void principal::stopCapture()
{
    captura_->stop();
    failedWrite_.reset();
    // A stop the user asked for during the tick has happened.
    captureToggleWaiting_ = false;
    mnucapturar->setChecked(false);
    edicion->setEnabled(true);
    fichero->setEnabled(true);
    setCaption();
    setTimerInterval(g_.intervalo);
}

void principal::mnugraficas_Click()
{
    // Made once and kept: hiding it keeps what it read.
    if (!graficas_)
        graficas_ = std::make_unique<graficas>(
            g_.carpeta,
            [this] { return g_.fichero.isEmpty() ? QString() : g_.carpeta + g_.fichero; }, this);
    graficas_->show();
    graficas_->raise();
    graficas_->activateWindow();
}

void principal::mnuver_Click() { platform_.explorer.open(portFolder(g_)); }
