// The daily capture files: one per day and sequence number, a header line
// naming the columns, then one line of readings per capture tick. Lines are
// Windows-1252 text ending in CR LF. Each line reaches the disk whole before
// the tick goes on, so a crash or power cut loses at most the line in flight.
#pragma once

#include <QString>
#include <functional>

class Clock;
class General;
class Messages;

// The column names, "Hora" first (no line end).
QString cabecera(const General &g);
// One line of readings under cabecera's columns, `hora` first (no line end).
QString linea(const General &g, const QString &hora);
// The sequence number after `seq`, two digits: 00 -> 01, 09 -> 10, 99 -> 00.
QString siguienteSecuencia(const QString &seq);
// The main window's caption: port, and the capture file while one runs.
QString titulo(const General &g);

class Captura {
public:
    enum class Estado {
        Escrito, // the line is on the disk (or no capture runs)
        Ocupado, // access denied: another program holds the file; try again
        Fallo,   // any other error: the capture cannot go on
    };
    struct Escritura {
        Estado estado = Estado::Escrito;
        bool renombrado = false; // a new day began: the caption must follow g.fichero
        QString mensaje;         // Spanish, for the user; set unless Escrito
    };

    Captura(General &g, const Clock &clock);

    // Starts a capture: creates the capture folder, picks today's file for
    // the sequence number (a further number when the file holds other
    // columns), asks to save a modified configuration through `messages`
    // and `salva` (true when the configuration was saved or needed nothing),
    // and creates the file with its header. Sets g.fichero and returns true
    // when the capture runs; otherwise g.fichero stays empty and whatever
    // stopped it has been shown.
    bool inicia(Messages &messages, const std::function<bool()> &salva);
    void para();

    // Appends one line. On a new day the file of the new date is used, its
    // lines headed again. Nothing stays open afterwards.
    Escritura escribe(const QString &hora);
    // escribe, showing the busy message and trying again each time the user
    // closes it; a fatal error's message is shown too. Never returns Ocupado.
    Escritura graba(const QString &hora, Messages &messages);

    static QString textoOcupado();

private:
    QString fechahoy() const;

    General &g_;
    const Clock &clock_;
    bool cabeceraPendiente_ = false; // the next line starts a file part of its own
};
