#include "alarms/options.h"

#include "central/connection.h"

namespace alarms {

QString usage()
{
    return QStringLiteral(
        "Uso: climalog-avisos [--conexion postgresql://...] [--reglas avisos.conf] [--una-vez]\n"
        "Avisa por correo y webhook de las alarmas de las lecturas archivadas de cada estación.\n"
        "  --conexion ...     la base de datos (o \"host=... dbname=...\"); sin ella, las "
        "variables PGHOST,\n"
        "                     PGDATABASE, PGUSER... (la contraseña, en ~/.pgpass, PGPASSFILE o "
        "un fichero de\n"
        "                     servicio, no aquí)\n"
        "  --reglas FICHERO   el fichero de reglas (por omisión, /etc/climalog/avisos.conf); "
        "SIGHUP lo lee de nuevo\n"
        "  --una-vez          juzga las lecturas que haya, envía sus mensajes (hasta 30 s) y "
        "termina; si no,\n"
        "                     sigue sin parar\n"
        "Termina con 0 si todo fue bien, 1 si no llegó a la base de datos o ya trabaja otro "
        "climalog-avisos,\n"
        "2 si las opciones o las reglas están mal, 3 si con --una-vez quedaron mensajes sin "
        "enviar.\n");
}

Parsed parseArguments(const QStringList &args, Options &o, QString &error)
{
    o = Options{};
    bool gotConninfo = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (QStringList{QStringLiteral("--ayuda"), QStringLiteral("--help"), QStringLiteral("-h")}
                .contains(a))
            return Parsed::Help;
        if (a == QLatin1String("--una-vez")) {
            o.once = true;
        } else if (a == QLatin1String("--conexion") && hasValue) {
            if (gotConninfo) {
                error = central::masked(
                    QStringLiteral("Sobra la segunda base de datos: %1.").arg(args[i + 1]),
                    args[i + 1]);
                return Parsed::Bad;
            }
            gotConninfo = true;
            o.conninfo = args[++i];
        } else if (a == QLatin1String("--reglas") && hasValue) {
            o.rules = args[++i];
        } else {
            error =
                central::masked(QStringLiteral("Opción desconocida o sin su valor: %1.").arg(a), a);
            return Parsed::Bad;
        }
    }
    return Parsed::Run;
}

} // namespace alarms
