// The window "Climalog - Gráficas": the capture files of the port's folder,
// newest first; the chosen ones plotted on one time axis (temperatures,
// humidities, converter channels per unit, inputs as steps in a strip
// below); a table that is the legend and shows the figures of the part in
// view; export to PNG and CSV; the file being captured followed live.
#pragma once

#include "viewer/capturefiles.h"
#include "viewer/legendmodel.h"

#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QCPAxisRect;
class QCPAxisTickerDateTime;
class QCPGraph;
class QCPItemStraightLine;
class QCPMarginGroup;
class QCustomPlot;
class QLabel;
class QListWidget;
class QPushButton;
class QTableView;
class QThread;
class QTimer;

class graficas : public QWidget {
    Q_OBJECT
public:
    // `currentCaptureFile` gives the path of the file being captured, empty
    // while no capture runs. A window of its own even with a parent.
    graficas(const QString &captureFolder, std::function<QString()> currentCaptureFile,
             QWidget *parent = nullptr);
    ~graficas() override;

    // The folder's capture files again, newest first; the choice stays.
    void refreshFiles();
    // Plots these files of the folder (names) together; the list follows.
    void open(const QStringList &names);
    // Reads what the open files gained since the last look; the timer's work.
    void followFiles();
    // A file too big to read between two events (more than a megabyte to
    // read) is read in a thread of its own, as the monitor's tick runs in
    // this window's thread: open() and followFiles() return at once, the
    // status line says "Leyendo …", and the plot follows when it is read.
    bool loading() const { return files_.loading(); }

    // The time in view, seconds since the epoch.
    double from() const { return from_; }
    double to() const { return to_; }
    void setRange(double from, double to);
    void resetRange(); // everything read
    void zoom(double factor, double center);
    // Time under the cursor: its line and the table's "Cursor" column.
    void hover(double t);
    // A file of many columns opens with this many series shown, the first
    // rows of the legend: a graph is made only for a series shown.
    static constexpr int shownAtOnce = 64;
    void setSeriesShown(int series, bool shown);
    bool seriesShown(int series) const;
    // Points the plot holds for a series (after reduction).
    int plottedPoints(int series) const;

    bool exportPng(const QString &path, int width = 0, int height = 0);
    // Files of more than a megabyte are exported in a thread of their own:
    // true at once, the status line says when it is written.
    bool exportCsv(const QString &path);
    bool exporting() const { return exporter_ != nullptr; }

    // Updates the plot data for the range in view; `now` repaints at once.
    void redraw(bool now = false);

    // The series of the open files, as plotted.
    const SeriesSet &series() const { return files_.series(); }
    const CaptureReader *reader(const QString &name) const { return files_.reader(name); }
    QStringList openFiles() const { return files_.openFiles(); }
    QString folder() const { return files_.folder(); }

    QListWidget *ficheros;
    QCustomPlot *plot;
    QTableView *leyenda; // a row per series: shown, cursor value, minimum, mean, maximum
    QLabel *cursor;
    QLabel *estado;
    QPushButton *png;
    QPushButton *csv;
    QTimer *timer;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Group {
        Kind kind;
        QString unit;
        QCPAxisRect *rect = nullptr;
        QCPItemStraightLine *line = nullptr;
        std::vector<int> series;
    };

    void onSelection();
    void loaded();
    // `keepLegend`: the same series in the same order, a graph more.
    void buildPlot(bool keepLegend = false);
    void onRangeDragged(double from, double to);
    void applyRange();
    QString currentName() const;
    void showErrors();
    void askPng();
    void askCsv();
    QStringList selectedNames() const;
    Choice choice() const { return {shownAtOnce, hidden_, turnedOn_}; }
    void select(const QStringList &names);

    CaptureFiles files_;
    std::function<QString()> current_;
    QString lastCurrent_;
    std::vector<Group> groups_;
    std::vector<QCPGraph *> graphs_; // per series
    std::vector<double> offsets_; // per series: inputs stack in their strip
    LegendModel *legend_ = nullptr;
    QSet<QString> hidden_; // column names the legend turned off
    QSet<QString> turnedOn_; // past the first rows, column names the legend turned on
    QSharedPointer<QCPAxisTickerDateTime> ticker_;
    QCPMarginGroup *margins_ = nullptr;
    double from_ = 0, to_ = 1;
    bool placed_ = false; // shown once: later showings keep the user's place
    bool whole_ = true; // the range is everything read, and grows with it
    bool syncing_ = false;
    bool rereading_ = false; // the files are read again for a series ticked
    Points scratch_;
    std::unique_ptr<QThread> exporter_;
};
