// The legend of the "Gráficas" window as a table model: a row per series
// (shown or not, its colour), its value under the cursor and the minimum,
// mean and maximum of the part in view, worked out only for the rows a view
// asks for, so that a file of thousands of columns costs a row each.
#pragma once

#include "viewer/series.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>

#include <functional>
#include <optional>
#include <vector>

class LegendModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        int series = -1; // index into the SeriesSet
        QColor color;
    };
    static constexpr int columns = 5; // name, cursor, minimum, mean, maximum

    // `shown` tells whether a series is drawn; `setShown` is asked when the
    // user ticks or unticks one.
    LegendModel(std::function<bool(int)> shown, std::function<void(int, bool)> setShown,
                QObject *parent = nullptr);

    // New rows over `series` (kept by the caller): the cursor is forgotten.
    void setRows(const SeriesSet *series, std::vector<Row> rows);
    // The figures are of the part in view.
    void setRange(double from, double to);
    // The value of each series at `t`, when one lies within `within` seconds.
    void setCursor(double t, double within);
    // A series was turned on or off.
    void shownChanged(int series);
    int rowOf(int series) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;

private:
    const std::optional<Stats> &figures(int row) const;
    void figuresChanged(int first, int last);

    std::function<bool(int)> shown_;
    std::function<void(int, bool)> setShown_;
    const SeriesSet *series_ = nullptr;
    std::vector<Row> rows_;
    std::vector<int> rowOf_; // per series
    double from_ = 0, to_ = 1;
    std::optional<std::pair<double, double>> cursor_; // time and reach
    // Per row, for the range in view: worked out or not, and known or not.
    mutable std::vector<std::optional<std::optional<Stats>>> figures_;
    mutable std::vector<std::pair<QRgb, QIcon>> swatches_;
};
