// The daily capture files: one per day and sequence number, a header line
// naming the columns, then one line of readings per capture tick. Lines are
// Windows-1252 text ending in CR LF. Each line reaches the disk whole before
// the tick goes on, so a crash or power cut loses at most the line in flight.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <string>

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
QString windowCaption(const General &g);

class Captura {
public:
    enum class Estado {
        Escrito, // every line is on the disk (or no capture runs)
        Ocupado, // another program holds the file: the line waits, try again
        Denegado, // no permission to write: the line waits; try again or stop
        Fallo, // any other error (a full disk...): the capture cannot go on
    };
    struct Escritura {
        Estado estado = Estado::Escrito;
        bool renombrado = false; // a new day began: the caption must follow g.fichero
        QString mensaje; // Spanish, for the user; set unless Escrito
    };

    Captura(General &g, const Clock &clock);

    // Starts a capture: creates the capture folder, picks today's file for
    // the sequence number (a further number when the file holds other
    // columns), asks to save a modified configuration through `messages`
    // and `salva` (true when the configuration was saved or needed nothing),
    // and creates the file with its header. Sets g.fichero and returns true
    // when the capture runs; otherwise g.fichero stays empty and whatever
    // stopped it has been shown.
    bool start(Messages &messages, const std::function<bool()> &salva);
    // Ends the capture. Lines still waiting for the disk are not written:
    // takeNotice names their time range.
    void stop();

    // Writes the waiting lines, oldest first, then this one; a few megabytes
    // of them at most, the rest behind this one in the next calls. On a new day
    // the file of the new date is used, its lines headed again; a file that
    // is missing or empty gets the header first. A line that cannot be
    // written waits in memory for the next call or for flush, so polling
    // never waits for the disk; once an hour of lines waits, the lines that
    // follow are left out (takeNotice names them). Nothing stays open
    // afterwards.
    Escritura escribe(const QString &hora);
    // Tries the waiting lines again: every one, or about `tope` bytes of
    // them (at least one line) when it is not negative.
    Escritura flush(qint64 tope = -1);
    qsizetype pendientes() const { return static_cast<qsizetype>(cola_.size()); }
    // What the user must be told of readings that will never reach the file
    // (their time range), once; empty when nothing was lost.
    QString takeNotice();

    static QString textoOcupado();

private:
    struct Linea {
        QString fichero;
        QString hora;
        bool cabecera =
            false; // first line of a new day's file: headed even when the file has lines
        std::string bytes; // Windows-1252, CR LF included
    };
    QString fechahoy() const;
    // The first n waiting lines, all of one file, in one write and one sync.
    Escritura escribeLineas(std::size_t n);
    void espera(Linea l);
    void pierde(const Linea &l);

    General &g_;
    const Clock &clock_;
    std::deque<Linea> cola_; // lines not yet on the disk, oldest first
    qint64 bytesCola_ = 0;
    // Lines left out because the waiting ones filled their memory: the time
    // stamps of the first and the last. Lines go on being left out until
    // every waiting line is written, so what the file misses is one range,
    // right after the waiting lines.
    QString perdidaDesde_, perdidaHasta_;
    bool cabeceraPerdida_ = false; // a left-out line was to head its day's file
    QStringList avisos_;
};
