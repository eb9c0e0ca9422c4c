#include "archive/options.h"

#include "central/connection.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <libpq-fe.h>

QString usage()
{
    return QStringLiteral(
        "Uso: climalog-archivo [--una-vez] [--estacion NOMBRE] [--zona ZONA] [--lote N] "
        "[postgresql://...] [CARPETA ...]\n"
        "     climalog-archivo --preparar [postgresql://...]\n"
        "Copia cada lectura de las capturas en la base de datos PostgreSQL, una sola vez.\n"
        "  CARPETA            carpeta de capturas de un puerto; sin ninguna, las carpetas 1 a 4 "
        "junto al programa\n"
        "  postgresql://...   la base de datos (o \"host=... dbname=...\"); sin ella, las "
        "variables PGHOST, PGDATABASE,\n"
        "                     PGUSER...\n"
        "                     (la contraseña, en ~/.pgpass, PGPASSFILE o un fichero de servicio, "
        "no aquí)\n"
        "  --una-vez          archiva lo que haya y termina; si no, sigue las capturas sin parar\n"
        "  --estacion NOMBRE  nombre de esta estación en la base de datos (por omisión, el del "
        "equipo)\n"
        "  --zona ZONA        zona horaria de las capturas, como Europe/Madrid (por omisión, la "
        "del sistema)\n"
        "  --lote N           lecturas por transacción (por omisión, 200000; hasta unas 7200 "
        "líneas)\n"
        "  --preparar         crea o pone al día el esquema, los roles y sus permisos (una vez, "
        "como propietario)\n");
}

namespace {

// A postgresql:// address, or one of key=value words ("host=... dbname=...")
// that libpq takes: never a folder, whose name would be shown.
bool isAddress(const QString &arg)
{
    if (arg.startsWith(QLatin1String("postgresql://")) ||
        arg.startsWith(QLatin1String("postgres://")))
        return true;
    static const QRegularExpression keyword(QStringLiteral("^\\s*[A-Za-z_]+\\s*="));
    if (!keyword.match(arg).hasMatch())
        return false;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(arg.toUtf8().constData(), &error);
    PQfreemem(error);
    PQconninfoFree(options);
    return options != nullptr;
}

// Every folder names its port; two of one name would mix their files.
bool distinctPorts(const QStringList &folders, QString &error)
{
    for (int i = 0; i < folders.size(); ++i)
        for (int j = 0; j < i; ++j)
            if (QFileInfo(folders[i]).fileName() == QFileInfo(folders[j]).fileName()) {
                error = QStringLiteral("Las carpetas %1 y %2 tienen el mismo nombre de puerto.")
                            .arg(QDir::toNativeSeparators(folders[j]),
                                 QDir::toNativeSeparators(folders[i]));
                return false;
            }
    return true;
}

} // namespace

Parsed parseArguments(const QStringList &args, const QString &appFolder, const QString &hostName,
                      const QString &zone, ArchiveOptions &o, QString &error)
{
    o = ArchiveOptions{};
    o.station = hostName;
    o.zone = zone.isEmpty() ? QStringLiteral("UTC") : zone;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--ayuda") || a == QLatin1String("-h") ||
            a == QLatin1String("--help"))
            return Parsed::Help;
        if (a == QLatin1String("--una-vez")) {
            o.once = true;
        } else if (a == QLatin1String("--preparar")) {
            o.prepare = true;
        } else if (a == QLatin1String("--zona") && hasValue) {
            o.zone = args[++i].trimmed();
            if (!QTimeZone::isTimeZoneIdAvailable(o.zone.toUtf8())) {
                error = QStringLiteral("Zona horaria desconocida: %1.").arg(o.zone);
                return Parsed::Bad;
            }
        } else if (a == QLatin1String("--estacion") && hasValue) {
            o.station = args[++i].trimmed();
            if (o.station.isEmpty()) {
                error = QStringLiteral("El nombre de la estación no puede estar vacío.");
                return Parsed::Bad;
            }
        } else if (a == QLatin1String("--lote") && hasValue) {
            bool ok = false;
            o.batch = args[++i].toLongLong(&ok);
            if (!ok || o.batch < 1) {
                error = QStringLiteral("El lote debe ser un número de lecturas mayor que cero: %1.")
                            .arg(args[i]);
                return Parsed::Bad;
            }
        } else if (isAddress(a)) {
            if (!o.conninfo.isEmpty()) {
                error = central::masked(
                    QStringLiteral("Sobra la segunda base de datos: %1.").arg(a), a);
                return Parsed::Bad;
            }
            o.conninfo = a;
        } else if (a.startsWith(u'-')) {
            error = QStringLiteral("Opción desconocida o sin su valor: %1.").arg(a);
            return Parsed::Bad;
        } else {
            o.folders << QDir::cleanPath(QDir(QDir::currentPath()).absoluteFilePath(a));
        }
    }
    if (o.station.isEmpty())
        o.station = QStringLiteral("estacion");
    if (o.folders.isEmpty())
        for (const char *port : {"1", "2", "3", "4"})
            o.folders << QDir(appFolder).filePath(QString::fromLatin1(port));
    return distinctPorts(o.folders, error) ? Parsed::Run : Parsed::Bad;
}
