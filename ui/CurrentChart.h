#pragma once
// The phase currents against time: the samples of every poll, kept whether the window is open
// or not, and the window that draws them with Qt Charts.

#include "log/CsvRecord.h"

#include <QChartView>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>
#include <QWidget>

#include <array>
#include <deque>

class QComboBox;
class QLabel;
class QPushButton;

namespace md::ui {

class CurrentSamples final : public QObject {
    Q_OBJECT
public:
    // 24 hours at the 2 s poll period; then the oldest go.
    static constexpr int kLimit = 43200;

    explicit CurrentSamples(QObject* parent = nullptr);

    void Add(const log::CurrentSample& sample);
    void Clear();
    const std::deque<log::CurrentSample>& All() const { return m_samples; }
    // The header and every sample held, as a CSV file.
    QByteArray Csv() const;

Q_SIGNALS:
    void Added();
    void Cleared();

private:
    std::deque<log::CurrentSample> m_samples;
};

class ChartWindow final : public QWidget {
    Q_OBJECT
public:
    // The time the axis spans, back from the latest sample.
    enum class Range { Minute, TenMinutes, Hour, All };

    // A window of its own over parent (the main window), drawing samples.
    ChartWindow(CurrentSamples& samples, QWidget* parent);

    void SetRange(Range range);
    Range CurrentRange() const { return m_range; }
    QChart* Chart() const { return m_view->chart(); }
    QComboBox* RangeBox() const { return m_rangeBox; }
    QPushButton* PauseButton() const { return m_pause; }
    QLabel* HoverLabel() const { return m_hover; }

    // The line pieces of phase 0, 1 or 2 now drawn, oldest first: a failed poll ends a piece.
    // Beyond 1200 samples in range, a piece draws the lowest and highest value of each stretch
    // of time instead of every sample.
    const QList<QLineSeries*>& Pieces(int phase) const { return m_pieces[std::size_t(phase)]; }
    // Time and the three currents of the answered poll nearest to msecs since the epoch.
    QString HoverText(qint64 msecs) const;

    // Ask for a file, then save the chart as a PNG picture / every sample held as CSV.
    void SavePicture();
    void ExportCsv();
    // The same to path; a box names the file when it cannot be written.
    bool SavePictureTo(const QString& path);
    bool ExportCsvTo(const QString& path);

private:
    // Draws every sample in range afresh.
    void Rebuild();
    // Draws the newest sample, and lets go of what left the range.
    void OnAdded();
    // Opens a new piece of each phase with the sample's point.
    void StartPieces(const log::CurrentSample& sample);
    void Forget(qint64 from);
    void FitAxes();
    void UpdateLegend();
    // The earliest time in range now; the latest sample's when there is none in range.
    qint64 From() const;
    QLineSeries* NewPiece(int phase);

    CurrentSamples& m_samples;
    QChartView* m_view;
    QDateTimeAxis* m_timeAxis;
    QValueAxis* m_valueAxis;
    QComboBox* m_rangeBox;
    QPushButton* m_pause;
    QLabel* m_hover;
    Range m_range = Range::TenMinutes;
    std::array<QList<QLineSeries*>, 3> m_pieces;
    bool m_gap = true;        // the next answered poll starts new pieces
    bool m_decimated = false; // the pieces draw the extremes of stretches of time
};

} // namespace md::ui
