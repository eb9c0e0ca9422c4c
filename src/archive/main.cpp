// climalog-archivo: copies the readings of a station's capture files into a
// PostgreSQL database, each exactly once; with --preparar, sets the central
// schema up once with its owner's connection.
#include "archive/archiver.h"
#include "archive/options.h"
#include "central/connection.h"
#include "central/migrations.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QTimeZone>

#include <cstdio>

namespace {

#ifdef __GLIBC__
// Before main and before Qt sets up its application: the window in which the
// process list shows a password given on the command line is as short as the
// program can make it. The C library hands constructors the arguments.
[[gnu::constructor]] void takeArgumentsEarly(int argc, char **argv, char **)
{
    central::takeArguments(argc, argv);
}
#endif

int prepare(const ArchiveOptions &o)
{
    QString error;
    const central::Connection c = central::connect(o.conninfo, "climalog-archivo", error);
    QStringList report;
    if (!c || !central::prepare(c.get(), report, error)) {
        std::fputs(
            (central::masked(error, o.conninfo) + QStringLiteral(".\n")).toUtf8().constData(),
            stderr);
        return 1;
    }
    for (const QString &line : report)
        std::fputs((line + u'\n').toUtf8().constData(), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QStringList args = central::takeArguments(argc, argv);
    QCoreApplication app(argc, argv);
    ArchiveOptions options;
    QString error;
    switch (parseArguments(args, QCoreApplication::applicationDirPath(),
                           QSysInfo::machineHostName(),
                           QString::fromUtf8(QTimeZone::systemTimeZoneId()), options, error)) {
    case Parsed::Help:
        std::fputs(usage().toUtf8().constData(), stdout);
        return 0;
    case Parsed::Bad:
        std::fputs((error + u'\n' + usage()).toUtf8().constData(), stderr);
        return 2;
    case Parsed::Run:
        break;
    }
    return options.prepare ? prepare(options) : Archiver(options).run();
}
