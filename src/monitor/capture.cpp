#include "monitor/capture.h"

#include "monitor/captureheader.h"
#include "monitor/capturename.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/rawfile.h"
#include "registry/cp1252.h"
#include "registry/general.h"
#include "registry/numtext.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString crlf = QStringLiteral("\r\n");

using rawfile::shown;
#ifdef _WIN32
using rawfile::wide;
#endif

// One level only: the application folder is there already. 0 or an errno.
int creaCarpeta(const QString &folder)
{
#ifdef _WIN32
    if (_wmkdir(wide(shown(folder))) == 0)
        return 0;
#else
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) == 0)
        return 0;
#endif
    if (errno != EEXIST)
        return errno;
        // Something of that name: good only when it is a folder.
#ifdef _WIN32
    struct _stat64 st;
    if (_wstat64(wide(shown(folder)), &st) != 0)
        return errno;
    return (st.st_mode & _S_IFMT) == _S_IFDIR ? 0 : ENOTDIR;
#else
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
#endif
}

// ---- Choosing the day's file.

enum class Encaja {
    Libre, // no such file, or an empty one: no lines under any header yet
    Igual, // its first line is this header: lines may follow
    Distinta, // other columns, or unreadable (err set)
};

Encaja comprueba(const QString &path, const QString &header, int &err)
{
    err = 0;
    const int fd = rawfile::openRead(path);
    if (fd < 0) {
        if (errno == ENOENT)
            return Encaja::Libre;
        err = errno;
        return Encaja::Distinta;
    }
    qint64 size = 0;
    err = rawfile::regularSize(fd, size);
    std::string bytes;
    if (err == 0 && size > 0) {
        // The header and its CR LF tell everything: a longer first line
        // differs anyway. Bounded, so a huge file costs nothing.
        const qint64 limit =
            std::min<qint64>(size, static_cast<qint64>(cp1252::encode(header).size()) + 2);
        bytes.resize(static_cast<std::size_t>(limit));
        const qint64 got = rawfile::readFully(fd, bytes.data(), limit);
        if (got < 0)
            err = errno;
        else
            bytes.resize(static_cast<std::size_t>(got));
    }
    rawfile::closeFile(fd);
    if (err != 0)
        return Encaja::Distinta;
    if (bytes.empty())
        return Encaja::Libre;
    // Up to CR LF or LF; a header torn before its line end still counts as
    // that header (the first line written after it repairs the end).
    std::string first = bytes.substr(0, bytes.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    return cp1252::decode(first) == header ? Encaja::Igual : Encaja::Distinta;
}

struct Eleccion {
    QString seq;
    bool avanzada = false;
    QString mensaje; // set when no file can be used
};

// The first sequence number from `seq` on whose file is free or already has
// these columns; once around the hundred numbers at most.
Eleccion elige(const General &g, const QString &hoy, QString seq)
{
    const QString header = cabecera(g);
    Eleccion e;
    for (int vuelta = 0;; ++vuelta) {
        const QString path = g.carpeta + CaptureName::make(hoy, seq);
        int err = 0;
        if (comprueba(path, header, err) != Encaja::Distinta) {
            e.seq = seq;
            return e;
        }
        if (err != 0) {
            e.mensaje =
                QStringLiteral(
                    "No se puede leer el fichero de captura %1: %2. La captura no se inicia.")
                    .arg(shown(path), rawfile::reason(err));
            return e;
        }
        if (vuelta == 100) {
            e.mensaje = QStringLiteral(
                            "Todos los ficheros de captura de hoy (%1 a %2) tienen otras columnas. "
                            "La captura no se inicia.")
                            .arg(CaptureName::make(hoy, QStringLiteral("00")),
                                 CaptureName::make(hoy, QStringLiteral("99")));
            return e;
        }
        seq = siguienteSecuencia(seq);
        e.avanzada = true;
    }
}

// The header into a file that holds nothing yet; a file with lines is left
// as it is. 0 or an errno.
int encabeza(const QString &folder, const QString &path, const QString &header)
{
    const int fd = rawfile::openAppend(path);
    if (fd < 0)
        return errno;
    qint64 size = 0;
    int err = rawfile::regularSize(fd, size);
    if (err == 0 && size == 0) {
        const std::string bytes = cp1252::encode(header + crlf);
        if (!rawfile::writeFully(fd, bytes.data(), static_cast<qint64>(bytes.size())) ||
            !rawfile::syncFile(fd))
            err = errno;
    }
    if (rawfile::closeFile(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && size == 0)
        rawfile::syncFolder(folder);
    return err;
}

// Lines kept in memory while the file cannot be written: an hour of lines at
// one a second, and no more than this many bytes.
constexpr std::size_t maxCola = 3600;
constexpr qint64 maxBytesCola = 64 << 20;
// What a tick writes of the waiting lines at most: the rest waits for the
// next ticks, so the window is never held by a long write.
constexpr qint64 porTick = 2 << 20;

// The readings from `desde` to `hasta` (time stamps) that the file lacks.
QString noEscritas(const QString &desde, const QString &hasta)
{
    if (desde == hasta)
        return QStringLiteral("No se ha escrito en la captura la lectura de %1").arg(desde);
    return QStringLiteral("No se han escrito en la captura las lecturas de %1 a %2")
        .arg(desde, hasta);
}

Captura::Escritura fallo(const QString &path, int err)
{
    Captura::Escritura r;
    if (err == EBUSY || err == EAGAIN
#ifdef ETXTBSY
        || err == ETXTBSY
#endif
    ) {
        r.estado = Captura::Estado::Ocupado;
        r.mensaje = Captura::textoOcupado();
        return r;
    }
    const bool denegado = err == EACCES || err == EPERM;
    r.estado = denegado ? Captura::Estado::Denegado : Captura::Estado::Fallo;
    r.mensaje =
        QStringLiteral("No se puede escribir en el fichero de captura %1: %2.")
            .arg(shown(path),
                 denegado ? QStringLiteral("sin permiso de escritura") : rawfile::reason(err));
    return r;
}

} // namespace

// ---- Texts.

QString cabecera(const General &g)
{
    using captureheader::columnText;
    const QString &sep = g.separador;
    QString out = captureheader::hora;
    for (int i = 1; i <= g.n(); ++i) {
        const Dispositivo &d = g.dispositivos[i];
        const QString name = d.nombre.trimmed();
        switch (d.tipo) {
        case STT:
            out += sep + columnText(name, 'T');
            break;
        case HRT:
            out += sep + columnText(name, 'T') + sep + columnText(name, 'H');
            break;
        case AVI:
            for (int k = 0; k < 4; ++k)
                out += sep + columnText(name, static_cast<char>('a' + k), d.magnitud[k].trimmed());
            break;
        default:
            break;
        }
    }
    for (int i = 1; i <= g.n(); ++i) {
        const Dispositivo &d = g.dispositivos[i];
        if (d.tipo != DET && d.tipo != CTR)
            continue;
        const QString name = d.nombre.trimmed();
        out += sep + columnText(name, '1') + sep + columnText(name, '2');
    }
    return out;
}

QString linea(const General &g, const QString &hora)
{
    const QString &sep = g.separador;
    const QString err = sep + QStringLiteral("ERR");
    // A device without its reading block is shown as a failed reading, so
    // the line keeps the header's columns.
    const auto valido = [&](int i) {
        return static_cast<std::size_t>(i) < g.estados.size() && g.estados[i].valido;
    };
    QString out = hora;
    for (int i = 1; i <= g.n(); ++i) {
        const std::int16_t tipo = g.dispositivos[i].tipo;
        if (tipo < STT || tipo > AVI)
            continue;
        const int columnas = tipo == STT ? 1 : tipo == HRT ? 2 : 4;
        if (!valido(i)) {
            for (int k = 0; k < columnas; ++k)
                out += err;
            continue;
        }
        const EstadoDisp &e = g.estados[i];
        if (tipo == HRT)
            out += sep + txtsimple(e.lectura[0]) + sep + txtsimple(e.lectura[1]);
        else
            for (int k = 0; k < columnas; ++k)
                out += sep + numcoma(e.lectura[k]);
    }
    for (int i = 1; i <= g.n(); ++i) {
        const std::int16_t tipo = g.dispositivos[i].tipo;
        if (tipo != DET && tipo != CTR)
            continue;
        if (!valido(i)) {
            out += err + err;
            continue;
        }
        const EstadoDisp &e = g.estados[i];
        out += sep + txtestado(e.crudo[0]) + sep + txtestado(e.crudo[1]);
    }
    return out;
}

QString siguienteSecuencia(const QString &seq)
{
    return (u'0' + txtdoble(valnum(seq) + 1)).right(2);
}

QString windowCaption(const General &g)
{
    QString caption = QStringLiteral("Climalog [") + g.nombrepuerto + u']';
    if (!g.fichero.isEmpty())
        caption += QStringLiteral(" - ") + g.fichero;
    return caption;
}

// ---- Capture.

Captura::Captura(General &g, const Clock &clock) : g_(g), clock_(clock) {}

QString Captura::textoOcupado()
{
    return QStringLiteral("El fichero de datos está siendo utilizando por la aplicación. Cierrela");
}

QString Captura::fechahoy() const { return CaptureName::dayText(clock_.now().date()); }

void Captura::stop()
{
    g_.fichero.clear();
    if (!cola_.empty() || !perdidaDesde_.isEmpty()) {
        const QString desde = cola_.empty() ? perdidaDesde_ : cola_.front().hora;
        const QString hasta = perdidaHasta_.isEmpty() ? cola_.back().hora : perdidaHasta_;
        avisos_ << noEscritas(desde, hasta) + u'.';
    }
    cola_.clear();
    bytesCola_ = 0;
    perdidaDesde_.clear();
    perdidaHasta_.clear();
    cabeceraPerdida_ = false;
}

QString Captura::takeNotice()
{
    const QString text = avisos_.join(crlf);
    avisos_.clear();
    return text;
}

bool Captura::start(Messages &messages, const std::function<bool()> &salva)
{
    stop();
    const QString carpeta = g_.appFolder + u'/' + g_.nombrepuerto.right(1);
    if (const int err = creaCarpeta(carpeta)) {
        messages.show(
            QStringLiteral(
                "No se puede crear la carpeta de capturas %1: %2. La captura no se inicia.")
                .arg(shown(carpeta), rawfile::reason(err)));
        return false;
    }

    const QString seq = g_.secuencia();
    g_.dispositivos[0].nombre = seq;

    const QString hoy = fechahoy();
    Eleccion e = elige(g_, hoy, seq);
    if (!e.mensaje.isEmpty()) {
        messages.show(e.mensaje);
        return false;
    }
    if (e.avanzada)
        g_.modificado = true;

    if (g_.modificado) {
        const auto answer = messages.show(
            QStringLiteral("La configuración ha sido modificada.\r\nDebe salvarla primero."),
            Messages::Buttons::OkCancel);
        if (answer != Messages::Answer::Ok)
            return false;
        if (e.avanzada)
            g_.dispositivos[0].nombre = e.seq;
        if (!salva())
            return false;
        // Saving sorts the table, which can reorder the columns: the file is
        // chosen again under the columns of the table as saved.
        const Eleccion otra = elige(g_, hoy, e.seq);
        if (!otra.mensaje.isEmpty()) {
            messages.show(otra.mensaje);
            return false;
        }
        if (otra.avanzada) {
            g_.dispositivos[0].nombre = otra.seq;
            g_.modificado = true;
            if (!salva())
                return false;
        }
        e.seq = otra.seq;
    }

    const QString nombre = CaptureName::make(hoy, e.seq);
    const QString path = g_.carpeta + nombre;
    if (const int err = encabeza(g_.carpeta, path, cabecera(g_))) {
        messages.show(
            QStringLiteral(
                "No se puede crear el fichero de captura %1: %2. La captura no se inicia.")
                .arg(shown(path), rawfile::reason(err)));
        return false;
    }
    g_.fichero = nombre;
    return true;
}

Captura::Escritura Captura::escribe(const QString &hora)
{
    if (g_.fichero.isEmpty())
        return {};
    bool renombrado = false;
    // The line's own date names its file, so a tick that began before
    // midnight and writes after it still files its line under its day.
    const QString hoy = hora.size() >= 10 ? hora.left(10) : fechahoy();
    if (!CaptureName::isOfDay(g_.fichero, hoy)) {
        g_.fichero = CaptureName::redated(g_.fichero, hoy);
        renombrado = true;
    }
    Linea l{g_.fichero, hora, renombrado, cp1252::encode(linea(g_, hora) + crlf)};
    // The lines that waited go first; while they still cannot be written,
    // this one waits behind them, or is left out once they fill the memory
    // set aside for them. Once they can, it waits behind those this tick
    // had no time for: a tick writes at least one line, so they only shrink.
    Escritura r = flush(porTick);
    if (r.estado == Estado::Escrito) {
        const bool alDia = cola_.empty();
        espera(std::move(l));
        if (alDia)
            r = flush(porTick);
    } else if (!perdidaDesde_.isEmpty() || cola_.size() >= maxCola ||
               bytesCola_ + static_cast<qint64>(l.bytes.size()) > maxBytesCola) {
        pierde(l);
    } else {
        espera(std::move(l));
    }
    r.renombrado = renombrado;
    return r;
}

void Captura::espera(Linea l)
{
    // The day's header that a left-out line was to write comes with the
    // first line written after it (the same file: lines are left out up to
    // the current one).
    l.cabecera = l.cabecera || std::exchange(cabeceraPerdida_, false);
    bytesCola_ += static_cast<qint64>(l.bytes.size());
    cola_.push_back(std::move(l));
}

void Captura::pierde(const Linea &l)
{
    if (perdidaDesde_.isEmpty())
        perdidaDesde_ = l.hora;
    perdidaHasta_ = l.hora;
    cabeceraPerdida_ = cabeceraPerdida_ || l.cabecera;
}

Captura::Escritura Captura::flush(qint64 tope)
{
    qint64 escritos = 0;
    while (!cola_.empty() && (tope < 0 || escritos < tope)) {
        // The waiting lines of one file go in one write and one sync: an
        // hour of lines synced one by one would hold the window for seconds.
        // A line that heads a new day's file starts a write of its own.
        std::size_t n = 1;
        qint64 bytes = static_cast<qint64>(cola_.front().bytes.size());
        while (n < cola_.size() && cola_[n].fichero == cola_.front().fichero &&
               !cola_[n].cabecera &&
               (tope < 0 || escritos + bytes + static_cast<qint64>(cola_[n].bytes.size()) <= tope))
            bytes += static_cast<qint64>(cola_[n++].bytes.size());
        escritos += bytes;
        Escritura r = escribeLineas(n);
        if (r.estado != Estado::Escrito)
            return r;
        for (std::size_t k = 0; k < n; ++k) {
            bytesCola_ -= static_cast<qint64>(cola_.front().bytes.size());
            cola_.pop_front();
        }
    }
    // Every line before the gap is on the disk: the gap is for good.
    if (cola_.empty() && !perdidaDesde_.isEmpty()) {
        avisos_ << noEscritas(perdidaDesde_, perdidaHasta_) +
                QStringLiteral(": mientras no se podía escribir en el fichero no cabían en "
                               "memoria, que guarda como mucho "
                               "una hora de lecturas.");
        perdidaDesde_.clear();
        perdidaHasta_.clear();
    }
    return {};
}

Captura::Escritura Captura::escribeLineas(std::size_t n)
{
    Linea &l = cola_.front();
    const QString path = g_.carpeta + l.fichero;
    int fd = rawfile::openAppend(path);
    // A capture folder removed meanwhile is made again.
    if (fd < 0 && errno == ENOENT && creaCarpeta(g_.carpeta.chopped(1)) == 0)
        fd = rawfile::openAppend(path);
    if (fd < 0)
        return fallo(path, errno);

    qint64 size = 0;
    int err = rawfile::regularSize(fd, size);
    std::string bytes;
    // A file removed or emptied meanwhile gets its header back, so it stays
    // a capture file the viewer reads.
    if (err == 0 && (size == 0 || l.cabecera))
        bytes = cp1252::encode(cabecera(g_) + crlf);
    for (std::size_t k = 0; k < n; ++k)
        bytes += cola_[k].bytes;
    if (err == 0 && size > 0) {
        // A line torn by a crash is ended first, so it cannot swallow this one.
        char last = '\n';
        err = rawfile::lastByte(fd, size, last);
        if (err == 0 && last != '\n')
            bytes.insert(0, last == '\r' ? "\n" : "\r\n");
    }
    if (err == 0 && !rawfile::writeFully(fd, bytes.data(), static_cast<qint64>(bytes.size())))
        err = errno;
    if (err == 0 && !rawfile::syncFile(fd))
        err = errno;
    if (rawfile::closeFile(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        return fallo(path, err);
    if (size == 0)
        rawfile::syncFolder(g_.carpeta);
    l.cabecera = false;
    return {};
}
