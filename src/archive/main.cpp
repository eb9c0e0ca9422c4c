// climalog-archivo: copies the readings of a station's capture files into a
// PostgreSQL database, each exactly once.
#include "archive/archiver.h"
#include "archive/options.h"

#include <QCoreApplication>
#include <QSysInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    ArchiveOptions options;
    QString error;
    switch (parseArguments(app.arguments().mid(1), QCoreApplication::applicationDirPath(), QSysInfo::machineHostName(),
                           options, error)) {
    case Parsed::Help:
        std::fputs(usage().toUtf8().constData(), stdout);
        return 0;
    case Parsed::Bad:
        std::fputs((error + u'\n' + usage()).toUtf8().constData(), stderr);
        return 2;
    case Parsed::Run:
        break;
    }
    return Archiver(options).run();
}
