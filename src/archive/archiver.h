// The archive program's run: follows the capture folders of a station and
// copies every whole line's readings into the database once, and each port's
// configuration whenever it changes; retries while the database is away,
// skips (and reports by file and line) only what the database refuses, with
// progress and status lines for the user.
#pragma once

#include "archive/database.h"
#include "archive/followedfile.h"
#include "archive/options.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimeZone>

#include <map>
#include <optional>
#include <memory>
#include <set>

class Archiver {
public:
    explicit Archiver(ArchiveOptions options);
    // The exit code: 0, every whole line stored; 1 when --una-vez finds no
    // database at the start; 3 when --una-vez skipped lines (or a
    // configuration) the database refused, or a file it could not read.
    int run();

private:
    enum class Cycle { Idle, Worked, Failed };
    struct ConfigLook {
        qint64 size = -1;
        QDateTime modified;
        std::uint64_t hash = 0;
    };

    bool connect();
    Cycle cycle();
    Cycle archiveFolder(const QString &folder);
    Cycle archiveFile(FollowedFile &f, int port);
    void archiveConfiguration(const QString &folder, int port);
    bool headers(FollowedFile &f, int port, Batch &b, std::vector<int> &ids);
    // A batch with what its storing needs, kept until the server answers.
    struct Sent {
        Batch batch;
        std::vector<int> ids; // by the batch lines' set
        std::vector<std::vector<bool>> temperatures; // by the set: its columns of temperatures
        std::optional<archive::Store::Prepared> prepared;
    };
    archive::Store::Lines whole(const FollowedFile &f, const Sent &s) const;
    bool prepare(FollowedFile &f, int port, Sent &s);
    bool send(FollowedFile &f, Sent &s);
    bool finish(FollowedFile &f, const Sent &s, bool more);
    bool store(FollowedFile &f, const Sent &s, std::size_t from, std::size_t to,
               const Progress &before, const Progress &after);
    void stored(const Sent &s, std::size_t from, std::size_t to, const Progress &after,
                qint64 changed, qint64 dropped);
    void told(FollowedFile &f, const Batch &b);
    Cycle failed(FollowedFile &f);
    FollowedFile &file(const QString &folder, const QString &name);
    void report(const QString &key, const QString &text);
    void progressLine(bool force);
    void statusLine();
    QString lag() const;
    void waitToReconnect();
    void caughtUp();

    ArchiveOptions o_;
    QTimeZone zone_;
    archive::Store db_;
    std::map<FileKey, Progress> progress_;
    std::map<FileKey, int> fileIds_;
    std::map<FileKey, std::unique_ptr<FollowedFile>> files_;
    std::map<QString, ConfigLook> configs_; // by capture folder
    std::map<FileKey, qint64> changed_; // readings changed while a file is read again
    std::map<FileKey, qint64> dropped_; // its stored lines that the file read again no longer has
    std::map<QString, QString> reported_; // the problem last shown for a folder or file

    // Figures for the progress and status lines and the exit code.
    QElapsedTimer sinceStart_, sinceLine_;
    qint64 lines_ = 0, readings_ = 0, rejected_ = 0, lastMs_ = 0;
    qint64 minuteLines_ = 0;
    qint64 unstored_ = 0; // lines the database refused
    std::set<FileKey> touched_; // files archived in this catch-up
    bool connectedBefore_ = false;
    int retryMs_ = 0, shownRetryMs_ = 0; // the next wait before reconnecting, and the one last said
    bool catchingUp_ = true;
    bool shownProgress_ = false;
};
