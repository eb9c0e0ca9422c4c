#include "viewer/legendmodel.h"

#include "registry/numtext.h"

#include <QPixmap>

#include <cmath>

namespace {

// As a Spanish user writes them, with the decimal comma of the capture
// files and a zero before it (0,06, -0,02): this window is read by people,
// not by the program's lists. Means and readings of ordinary size to two
// decimals, which is what the sensors resolve.
QString number(double v)
{
    if (std::isnan(v))
        return QStringLiteral("-");
    const double a = std::abs(v);
    if (a >= 0.01 && a < 1e6)
        v = std::round(v * 100) / 100;
    QString text = numcoma(static_cast<float>(v));
    const qsizetype comma = text.startsWith(u'-') ? 1 : 0;
    if (text.size() > comma && text[comma] == u',')
        text.insert(comma, u'0');
    return text;
}

} // namespace

LegendModel::LegendModel(std::function<bool(int)> shown, std::function<void(int, bool)> setShown,
                         QObject *parent)
    : QAbstractTableModel(parent), shown_(std::move(shown)), setShown_(std::move(setShown))
{
}

void LegendModel::setRows(const SeriesSet *series, std::vector<Row> rows)
{
    beginResetModel();
    series_ = series;
    rows_ = std::move(rows);
    rowOf_.assign(series ? series->all().size() : 0, -1);
    for (std::size_t r = 0; r < rows_.size(); ++r)
        if (rows_[r].series >= 0 && static_cast<std::size_t>(rows_[r].series) < rowOf_.size())
            rowOf_[static_cast<std::size_t>(rows_[r].series)] = static_cast<int>(r);
    cursor_.reset();
    figures_.assign(rows_.size(), std::nullopt);
    endResetModel();
}

void LegendModel::figuresChanged(int first, int last)
{
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0, first), index(static_cast<int>(rows_.size()) - 1, last),
                           {Qt::DisplayRole});
}

void LegendModel::setRange(double from, double to)
{
    from_ = from;
    to_ = to;
    figures_.assign(rows_.size(), std::nullopt);
    figuresChanged(2, columns - 1);
}

void LegendModel::setCursor(double t, double within)
{
    cursor_ = std::pair(t, within);
    figuresChanged(1, 1);
}

void LegendModel::shownChanged(int series)
{
    if (const int row = rowOf(series); row >= 0)
        Q_EMIT dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

int LegendModel::rowOf(int series) const
{
    return series >= 0 && static_cast<std::size_t>(series) < rowOf_.size()
        ? rowOf_[static_cast<std::size_t>(series)]
        : -1;
}

int LegendModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LegendModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns;
}

const std::optional<Stats> &LegendModel::figures(int row) const
{
    std::optional<std::optional<Stats>> &f = figures_[static_cast<std::size_t>(row)];
    if (!f)
        f = known(
            series_->all()[static_cast<std::size_t>(rows_[static_cast<std::size_t>(row)].series)],
            from_, to_);
    return *f;
}

QVariant LegendModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !series_ || index.row() >= static_cast<int>(rows_.size()))
        return {};
    const Row &row = rows_[static_cast<std::size_t>(index.row())];
    // The series are made anew before the rows are: a look in between finds none.
    if (row.series < 0 || static_cast<std::size_t>(row.series) >= series_->all().size())
        return {};
    const Series &s = series_->all()[static_cast<std::size_t>(row.series)];
    if (index.column() == 0) {
        switch (role) {
        case Qt::DisplayRole:
            return s.column.name;
        case Qt::CheckStateRole:
            return shown_(row.series) ? Qt::Checked : Qt::Unchecked;
        case Qt::DecorationRole: {
            // One pixmap per colour, not per row.
            for (const auto &[rgb, icon] : swatches_)
                if (rgb == row.color.rgb())
                    return icon;
            QPixmap p(12, 12);
            p.fill(row.color);
            swatches_.emplace_back(row.color.rgb(), QIcon(p));
            return swatches_.back().second;
        }
        case Qt::UserRole:
            return row.series;
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    // A series not drawn has no readings kept: only the figures of all of
    // them, while they are all in view.
    if (index.column() == 1)
        return cursor_ && s.kept ? number(valueAt(s, cursor_->first, cursor_->second)) : QString();
    const std::optional<Stats> &f = figures(index.row());
    if (!f)
        return QString();
    return number(index.column() == 2 ? f->min : index.column() == 3 ? f->mean : f->max);
}

QVariant LegendModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const titles[columns] = {"Serie", "Cursor", "Mínimo", "Media", "Máximo"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columns)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(titles[section]);
}

Qt::ItemFlags LegendModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return index.column() == 0 ? Qt::ItemIsEnabled | Qt::ItemIsUserCheckable : Qt::ItemIsEnabled;
}

bool LegendModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole ||
        index.row() >= static_cast<int>(rows_.size()))
        return false;
    setShown_(rows_[static_cast<std::size_t>(index.row())].series,
              static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked);
    return true;
}
