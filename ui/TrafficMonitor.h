#pragma once
// The traffic monitor: the trace's rows in a table the operator can watch, pause, copy and
// save. The rows are kept by the model, which hears the exchange whether the window is open or
// not, so opening it shows the recent past.

#include "link/TraceRows.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <deque>

class QPushButton;
class QTableView;

namespace md::ui {

class MonitorModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Rows held at most, paused or not; the oldest go first.
    static constexpr int kRowLimit = 10000;
    enum Column { kTime, kDirection, kBytes, kMeaning, kStatus, kResponse, kColumns };

    explicit MonitorModel(QObject* parent = nullptr);

    void Append(TraceRow&& row);
    void Clear();
    // Paused, the table stands still; rows that arrive meanwhile are held and join it on resume.
    void SetPaused(bool paused);
    bool Paused() const { return m_paused; }

    // The row shown at index.
    const TraceRow& Row(int index) const { return m_rows[static_cast<std::size_t>(index)]; }
    // Rows held while paused, not shown yet.
    int Held() const { return static_cast<int>(m_held.size()); }
    // The lines of the given shown rows (all rows, held ones too, when rows is empty), in the
    // trace's format, one a line.
    QByteArray TraceText(const QList<int>& rows = {}) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    // Drops the oldest rows beyond the limit: shown ones first, then held ones.
    void Trim();

    std::deque<TraceRow> m_rows;
    std::deque<TraceRow> m_held;
    bool m_paused = false;
};

class MonitorWindow final : public QWidget {
    Q_OBJECT
public:
    // A window of its own over parent (the main window), showing model.
    MonitorWindow(MonitorModel& model, QWidget* parent);

    QTableView* Table() const { return m_table; }
    QPushButton* PauseButton() const { return m_pause; }

    // Copies the selected rows to the clipboard as trace lines.
    void CopySelection();
    // Asks for a file and saves every row to it.
    void Save();
    // Saves every row to path in the trace's format; a box names the file when it fails.
    bool SaveTo(const QString& path);

private:
    MonitorModel& m_model;
    QTableView* m_table;
    QPushButton* m_pause;
};

} // namespace md::ui
