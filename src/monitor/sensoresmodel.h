// The device list as a model: one row per device, each line derived when the
// view asks for it, so a table of 32 767 devices costs only its visible rows.
#pragma once

#include "registry/general.h"

#include <QAbstractListModel>
#include <QHash>
#include <QString>
#include <functional>
#include <unordered_map>

class SondaIO;

class SensoresModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Whether the 16-character name shows narrower than the name column, as
    // the window measures it in the list's font.
    using Narrow = std::function<bool(const QString &nombre16)>;

    // io may be null (no library): the serial column then shows the
    // program's own hex form.
    SensoresModel(const General &g, SondaIO *io, Narrow narrow, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // The table or the readings changed: the view asks again for what it
    // shows. Row count taken now; printable serials asked again for rows
    // whose serial changed.
    void rebuild();
    // Devices were appended to the table: their rows are added, the others
    // (and the view's selection) stay as they are.
    void append();
    // Every row anew (a configuration was loaded).
    void reset();

    // The printable serial of a row, from the library once per rebuild.
    QString serie(int row) const;

private:
    bool narrow(const QString &nombre16) const;

    const General &g_;
    SondaIO *io_;
    Narrow narrow_;
    int rows_ = 0;

    struct Cached {
        Serial sn;
        QString text;
    };
    mutable std::unordered_map<int, Cached> series_;
    // Measured widths depend on the name text alone: kept across rebuilds.
    mutable QHash<QString, bool> narrowNames_;
};
