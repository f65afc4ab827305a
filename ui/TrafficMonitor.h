#pragma once
// The traffic monitor: the trace's rows in a table the operator can watch, pause, copy and
// save. The rows are kept by the model, which hears the exchange whether the window is open or
// not, so opening it shows the recent past.

#include "trace/TraceRows.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <array>
#include <deque>

class QAction;
class QLabel;
class QPushButton;
class QTableView;

namespace md::ui {

class MonitorModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Rows shown at most; the oldest go first. Paused, as many again are held, and beyond them
    // the oldest held rows go, so that the table stands still.
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
    // Rows that arrived during the last pause and were dropped unshown to keep the bound.
    int DroppedWhilePaused() const { return m_dropped; }
    // The lines of the given shown rows (all rows, held ones too, when rows is empty), in the
    // trace's format, one a line.
    QByteArray TraceText(const QList<int>& rows = {}) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

Q_SIGNALS:
    // Paused or resumed, or cleared.
    void PauseChanged();

private:
    // Drops the oldest shown rows beyond the limit.
    void Trim();

    std::deque<TraceRow> m_rows;
    std::deque<TraceRow> m_held;
    bool m_paused = false;
    int m_dropped = 0;
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

protected:
    void changeEvent(QEvent* event) override;

private:
    // The texts, in the language now in force; a change of language keeps the selection.
    void Retranslate();
    // What the last pause cost, once it has ended.
    void ShowDropped();

    MonitorModel& m_model;
    QTableView* m_table;
    QPushButton* m_pause;
    QLabel* m_dropped;
    QAction* m_copy;
    std::array<QPushButton*, 3> m_buttons{}; // clear, copy, save
};

} // namespace md::ui
