// The archive program's run: follows the capture folders of a station and
// copies every whole line's readings into the database once, retrying while
// the database is away, with progress and status lines for the user.
#pragma once

#include "archive/database.h"
#include "archive/followedfile.h"
#include "archive/options.h"

#include <QElapsedTimer>
#include <QString>

#include <map>
#include <memory>
#include <set>

class Archiver {
public:
    explicit Archiver(ArchiveOptions options);
    // The exit code: 0, or 1 when --una-vez finds no database at the start.
    int run();

private:
    enum class Cycle { Idle, Worked, Failed };

    bool connect();
    Cycle cycle();
    Cycle archiveFolder(const QString &folder);
    Cycle archiveFile(FollowedFile &f);
    FollowedFile &file(const QString &folder, const QString &name);
    void report(const QString &key, const QString &text);
    void progressLine(bool force);
    void statusLine();
    QString lag() const;
    void waitToReconnect();
    void caughtUp();

    ArchiveOptions o_;
    Database db_;
    std::map<FileKey, Progress> progress_;
    std::map<FileKey, std::unique_ptr<FollowedFile>> files_;
    std::map<QString, QString> reported_; // the problem last shown for a folder or file

    // Figures for the progress and status lines.
    QElapsedTimer sinceStart_, sinceLine_;
    qint64 lines_ = 0, readings_ = 0, rejected_ = 0, lastMs_ = 0;
    qint64 minuteLines_ = 0;
    std::set<FileKey> touched_; // files archived in this catch-up
    bool connectedBefore_ = false;
    int retryMs_ = 0, shownRetryMs_ = 0; // the next wait before reconnecting, and the one last said
    bool catchingUp_ = true;
    bool shownProgress_ = false;
};
