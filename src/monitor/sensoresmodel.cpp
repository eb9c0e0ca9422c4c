#include "monitor/sensoresmodel.h"

#include "monitor/lines.h"
#include "netaccess/binding.h"

SensoresModel::SensoresModel(const General &g, SondaIO *io, Narrow narrow, QObject *parent)
    : QAbstractListModel(parent), g_(g), io_(io), narrow_(std::move(narrow)),
      rows_(std::max(0, g.n()))
{
}

int SensoresModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows_;
}

QVariant SensoresModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 || index.row() >= rows_)
        return {};
    // The table may have shrunk since the last rebuild (the tick yields while
    // the user edits): such a row shows nothing until the view is reset.
    const int i = index.row() + 1;
    if (!g_.valid(i) || static_cast<std::size_t>(i) >= g_.estados.size())
        return QString();
    return deviceLine(g_, i, serie(index.row()), narrow(g_.dispositivos[i].nombre.text()));
}

void SensoresModel::rebuild()
{
    // The same number of lines: every line is derived again when the view
    // paints it, and the view keeps its layout and its selection. A reset
    // would lay out all rows again, once per read of a tick.
    const int rows = std::max(0, g_.n());
    if (rows == rows_) {
        if (rows > 0)
            emit dataChanged(index(0), index(rows - 1), {Qt::DisplayRole});
        return;
    }
    reset();
}

void SensoresModel::append()
{
    const int rows = std::max(0, g_.n());
    if (rows <= rows_) {
        rebuild();
        return;
    }
    beginInsertRows(QModelIndex(), rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
}

void SensoresModel::reset()
{
    beginResetModel();
    series_.clear();
    rows_ = std::max(0, g_.n());
    endResetModel();
}

QString SensoresModel::serie(int row) const
{
    const int i = row + 1;
    if (!g_.valid(i))
        return {};
    const Serial &sn = g_.dispositivos[i].sn;
    const auto found = series_.find(row);
    // A record changed in place keeps its row: the serial bytes tell.
    if (found != series_.end() && found->second.sn == sn)
        return found->second.text;
    Serial copy = sn; // the library may write to it; the table stays as it is
    const QString text = io_ ? io_->ConvertSerialNum(copy) : seriehex(sn);
    series_[row] = Cached{sn, text};
    return text;
}

bool SensoresModel::narrow(const QString &nombre16) const
{
    if (!narrow_)
        return false;
    const auto found = narrowNames_.constFind(nombre16);
    if (found != narrowNames_.constEnd())
        return found.value();
    const bool result = narrow_(nombre16);
    narrowNames_.insert(nombre16, result);
    return result;
}
