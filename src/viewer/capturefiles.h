// The capture files a viewer has open: a reader per file, the series of them
// all, a file too big to read between two events read in a thread of its
// own, and what the status line says of each file.
#pragma once

#include "viewer/capturereader.h"
#include "viewer/series.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QThread;

class CaptureFiles : public QObject {
    Q_OBJECT
public:
    // What following the open files found.
    struct Growth {
        bool reset = false; // a file shrank and was read again
        bool appended = false; // readings were added
        bool added = false; // and new series with them
    };

    explicit CaptureFiles(QString folder);
    ~CaptureFiles() override;

    // Opens these names of the folder, oldest first. Files are read again
    // unless only newer ones are added; the big ones are read in the
    // thread. False while the thread reads: the names are opened when it
    // ends (takePending()).
    bool open(const QStringList &names);
    // The series whose readings are kept (those drawn); one chosen whose
    // readings were let go makes the files be read again.
    void choose(const Choice &choice);
    // Reads what the open files gained since the last look; a file that
    // gained much is read in the thread. Nothing while the thread reads.
    Growth followFiles();
    // While the thread reads, only it touches the files it reads.
    bool loading() const { return loader_ != nullptr; }
    bool isLoading(const QString &name) const;
    // The names chosen while the thread read, to open now that it ended.
    std::optional<QStringList> takePending() { return std::exchange(pending_, std::nullopt); }

    const SeriesSet &series() const { return series_; }
    // Null for a file being read in the thread.
    const CaptureReader *reader(const QString &name) const;
    std::vector<const CaptureReader *> readers() const; // the open files, oldest first
    QStringList openFiles() const { return order_; }
    const QString &folder() const { return folder_; }

    // A line per open file being read, unreadable, or with lines refused.
    QStringList problems() const;
    // Readings of the open files read so far.
    qint64 rows() const;

signals:
    // The thread ended: its files are in series(), or the names chosen
    // meanwhile wait in takePending().
    void loaded();

private:
    // A file being read: its place among the open files and its reader.
    struct Load {
        QString name;
        int source = 0;
        std::unique_ptr<CaptureReader> reader;
    };
    // Reads `files` on into `into`, here when they are small, else in the
    // thread; their readers and the series are this object's when read.
    void load(std::vector<Load> files, std::unique_ptr<SeriesSet> into);
    void install(std::vector<Load> &files, std::unique_ptr<SeriesSet> into);
    void finishLoading();
    void reload(); // every open file from its start

    QString folder_;
    std::map<QString, std::unique_ptr<CaptureReader>> readers_;
    std::unique_ptr<QThread> loader_;
    std::vector<Load> loading_;
    std::atomic<bool> stopLoading_{false};
    bool shrank_ = false; // a file read in the thread shrank meanwhile
    std::optional<QStringList> pending_;
    std::unique_ptr<SeriesSet> built_; // what the thread makes
    QStringList order_; // open files, oldest first
    SeriesSet series_;
    Choice choice_;
};
