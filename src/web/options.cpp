#include "web/options.h"

#include <QDir>

#include <algorithm>

#include <arpa/inet.h>

QString webUsage()
{
    return QStringLiteral(
        "Uso: climalog-web [postgresql://...] [--escuchar DIRECCION:PUERTO] [--usuarios FICHERO]\n"
        "                  [--certificado FICHERO --clave FICHERO] [--conexiones N] [--sesion "
        "MINUTOS]\n"
        "                  [--proxy DIRECCION] [--primaria postgresql://...] [--sitio NOMBRE]\n"
        "     climalog-web --usuario NOMBRE [--usuarios FICHERO]\n"
        "Sirve la página web de las lecturas de todas las estaciones, leyendo la base de datos "
        "central.\n"
        "  postgresql://...          la base de datos; sin ella, las variables PGHOST, PGDATABASE, "
        "PGUSER...\n"
        "  --escuchar DIR:PUERTO     dónde escucha (por omisión 127.0.0.1:8080, solo este "
        "equipo);\n"
        "                            otra dirección la abre a la red y entonces hace falta algún "
        "usuario\n"
        "  --usuarios FICHERO        usuarios y contraseñas (por omisión usuarios-web.txt junto al "
        "programa);\n"
        "                            con algún usuario, nadie ve nada sin entrar con su "
        "contraseña\n"
        "  --certificado, --clave    certificado y clave privada (PEM) para servir por https\n"
        "  --conexiones N            conexiones con la base de datos, como mucho (por omisión 4)\n"
        "  --sesion MINUTOS          lo que dura una entrada (por omisión 480)\n"
        "  --proxy DIRECCION         un proxy inverso de confianza en esa dirección: de sus "
        "peticiones se\n"
        "                            toma la dirección del cliente que añade a X-Forwarded-For\n"
        "  --primaria postgresql://  adónde van los cambios de la página (reconocer y silenciar "
        "avisos)\n"
        "                            cuando la base de datos que lee es una réplica\n"
        "  --sitio NOMBRE            el nombre del sitio, en la página y en cada hoja de los "
        "informes\n"
        "  --usuario NOMBRE          añade el usuario o cambia su contraseña, que pide dos veces, "
        "y termina\n");
}

namespace {

bool isAddressText(const QString &host, unsigned char (&bytes)[16], int &family)
{
    const QByteArray text = host.toLatin1();
    family = host.contains(u':') ? AF_INET6 : AF_INET;
    return inet_pton(family, text.constData(), bytes) == 1;
}

// "127.0.0.1:8080", "[::1]:8080", "0.0.0.0" (port kept), ":9000" (host kept).
bool parseListen(const QString &text, WebOptions &o, QString &error)
{
    QString host = text;
    QString port;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0) {
            error = QStringLiteral("Dirección no válida: %1.").arg(text);
            return false;
        }
        host = text.mid(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != u':') {
                error = QStringLiteral("Dirección no válida: %1.").arg(text);
                return false;
            }
            port = text.mid(close + 2);
        }
    } else if (text.count(u':') == 1) {
        host = text.section(u':', 0, 0);
        port = text.section(u':', 1);
    }
    if (!host.isEmpty()) {
        unsigned char bytes[16];
        int family = 0;
        if (host != QLatin1String("localhost") && !isAddressText(host, bytes, family)) {
            error =
                QStringLiteral(
                    "Dirección no válida: %1 (escriba por ejemplo 127.0.0.1:8080 o 0.0.0.0:8080).")
                    .arg(text);
            return false;
        }
        o.host = host;
    }
    if (!port.isNull()) {
        bool ok = false;
        const int p = port.toInt(&ok);
        if (!ok || p < 0 || p > 65535) {
            error = QStringLiteral("Puerto no válido: %1.").arg(port);
            return false;
        }
        o.port = p;
    }
    return true;
}

bool parseCount(const QString &name, const QString &text, int low, int high, int &out,
                QString &error)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high) {
        error = QStringLiteral("%1 debe ser un número entre %2 y %3: %4.")
                    .arg(name)
                    .arg(low)
                    .arg(high)
                    .arg(text);
        return false;
    }
    out = v;
    return true;
}

bool isAddress(const QString &arg)
{
    return arg.startsWith(QLatin1String("postgresql://")) ||
        arg.startsWith(QLatin1String("postgres://"));
}

} // namespace

bool isLoopback(const QString &host)
{
    if (host == QLatin1String("localhost"))
        return true;
    unsigned char bytes[16];
    int family = 0;
    if (!isAddressText(host, bytes, family))
        return false;
    if (family == AF_INET)
        return bytes[0] == 127;
    static const unsigned char one[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::equal(bytes, bytes + 16, one);
}

WebParsed parseWebArguments(const QStringList &args, const QString &appFolder, WebOptions &o,
                            QString &error)
{
    o = WebOptions{};
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == QLatin1String("--ayuda") || a == QLatin1String("-h") ||
            a == QLatin1String("--help"))
            return WebParsed::Help;
        if (a == QLatin1String("--escuchar") && hasValue)
            ok = parseListen(args[++i], o, error);
        else if (a == QLatin1String("--usuarios") && hasValue)
            o.users = QDir::cleanPath(QDir::current().absoluteFilePath(args[++i]));
        else if (a == QLatin1String("--certificado") && hasValue)
            o.certificate = args[++i];
        else if (a == QLatin1String("--clave") && hasValue)
            o.key = args[++i];
        else if (a == QLatin1String("--primaria") && hasValue)
            o.primary = args[++i];
        else if (a == QLatin1String("--usuario") && hasValue)
            o.user = args[++i];
        else if (a == QLatin1String("--sitio") && hasValue)
            o.site = args[++i].trimmed();
        else if (a == QLatin1String("--proxy") && hasValue) {
            unsigned char bytes[16];
            int family = 0;
            o.proxy = args[++i];
            if (!isAddressText(o.proxy, bytes, family)) {
                error =
                    QStringLiteral(
                        "Dirección del proxy no válida: %1 (escriba su dirección, como 127.0.0.1).")
                        .arg(o.proxy);
                ok = false;
            }
        } else if (a == QLatin1String("--conexiones") && hasValue)
            ok = parseCount(QStringLiteral("El número de conexiones"), args[++i], 1, 64,
                            o.connections, error);
        else if (a == QLatin1String("--sesion") && hasValue)
            ok = parseCount(QStringLiteral("La duración de la sesión"), args[++i], 1, 10080,
                            o.sessionMinutes, error);
        else if (isAddress(a) && o.conninfo.isEmpty())
            o.conninfo = a;
        else if (isAddress(a)) {
            error = QStringLiteral("Sobra la segunda base de datos.");
            ok = false;
        } else {
            error = QStringLiteral("Opción desconocida o sin su valor: %1.").arg(a);
            ok = false;
        }
        if (!ok)
            return WebParsed::Bad;
    }
    if (o.users.isEmpty())
        o.users = QDir(appFolder).filePath(QStringLiteral("usuarios-web.txt"));
    if (o.certificate.isEmpty() != o.key.isEmpty()) {
        error = QStringLiteral("Para https hacen falta el certificado y la clave: --certificado "
                               "FICHERO --clave FICHERO.");
        return WebParsed::Bad;
    }
    return o.user.isEmpty() ? WebParsed::Serve : WebParsed::SetPassword;
}
