// The name of a capture file in its port's folder, dd-MM-yyyy-NN.log: the
// day its lines were written on and the sequence number of its columns.
#pragma once

#include <QDate>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

class CaptureName {
public:
    // The ten characters of a day in a name and in a time stamp: 05-12-2026.
    static QString dayText(const QDate &day);
    // The file of `day` (ten characters, as dayText gives them) under the
    // sequence number `seq` as the configuration holds it: two digits as the
    // monitor keeps it, taken as it is otherwise.
    static QString make(const QString &day, const QString &seq);
    // Whether `name` is a file of `day`: its first ten characters.
    static bool isOfDay(const QString &name, const QString &day);
    // `name` moved to `day`, its sequence number and ending kept.
    static QString redated(const QString &name, const QString &day);

    // The name when `text` is exactly a capture file's: a day that exists,
    // a two-digit sequence number, ".log"; nothing otherwise.
    static std::optional<CaptureName> parse(QStringView text);
    // The capture files among `names`, each once, oldest first.
    static QStringList chronological(const QStringList &names);
    // The capture files of `folder`, each once, oldest first.
    static QStringList inFolder(const QDir &folder);

    CaptureName(const QDate &day, int sequence) : day_(day), sequence_(sequence) {}
    const QDate &day() const { return day_; }
    int sequence() const { return sequence_; }
    QString text() const;

    // The order the files were written in: by day, then by sequence number.
    friend bool operator<(const CaptureName &a, const CaptureName &b)
    {
        return a.day_ != b.day_ ? a.day_ < b.day_ : a.sequence_ < b.sequence_;
    }
    friend bool operator==(const CaptureName &a, const CaptureName &b)
    {
        return a.day_ == b.day_ && a.sequence_ == b.sequence_;
    }

private:
    QDate day_;
    int sequence_ = 0;
};
