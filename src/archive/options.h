// The archive program's command line: the capture folders to follow, the
// database, the station's name and whether to catch up once or keep following.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

struct ArchiveOptions {
    QStringList folders; // capture folders, each named by its port ("1".."4")
    QString conninfo; // a postgresql:// address; empty: the PG* variables
    QString station; // this station's name in the database
    QString zone; // the station's time zone (IANA name)
    bool once = false; // catch up once and end
    bool prepare = false; // the owner's one-time set-up of the schema instead
    qint64 batch = 200000; // readings per transaction, about
};

enum class Parsed { Run, Help, Bad };

// `args` without the program's name; `appFolder` holds the default port
// folders "1".."4"; `zone` is the system's time zone. Bad: `error` says why,
// in Spanish, with any password hidden.
Parsed parseArguments(const QStringList &args, const QString &appFolder, const QString &hostName,
                      const QString &zone, ArchiveOptions &o, QString &error);
QString usage();
