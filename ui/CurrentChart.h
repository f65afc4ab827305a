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
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>

class QComboBox;
class QLabel;
class QPushButton;

namespace md::ui {

// A poll's sample as it ends now: the currents, when read, scaled by decimalPoint; outcome is
// "ok" or the failure's status word.
log::CurrentSample SampleNow(const std::optional<std::array<std::uint16_t, 3>>& raw,
                             int decimalPoint, std::string_view outcome);

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

    // Draws samples from now on: a meter of the bus (its address), or the window's own (-1).
    // Drawn at once, in the range and pause of the moment.
    void ShowSamples(CurrentSamples& samples, int address = -1);
    const CurrentSamples& Shown() const { return *m_samples; }
    int ShownAddress() const { return m_address; }

    void SetRange(Range range);
    Range CurrentRange() const { return m_range; }
    QChart* Chart() const { return m_view->chart(); }
    QComboBox* RangeBox() const { return m_rangeBox; }
    QPushButton* PauseButton() const { return m_pause; }
    QLabel* HoverLabel() const { return m_hover; }

    // Pieces drawn of each phase at most, however many polls fail.
    static constexpr qsizetype kMaxPieces = 160;

    // The line pieces of phase 0, 1 or 2 now drawn, oldest first: a failed poll ends a piece.
    // Beyond 1200 samples in range, a piece draws the lowest and highest value of each stretch
    // of time instead of every sample, and only failed polls whose answered neighbours lie more
    // than a stretch (a 600th of the range, about a pixel) apart end a piece: a narrower gap
    // would not show. Beyond kMaxPieces, only the widest gaps do. A closed window draws when it
    // is next shown.
    const QList<QLineSeries*>& Pieces(int phase) const { return m_pieces[std::size_t(phase)]; }
    // Time and the three currents of the answered poll nearest to msecs since the epoch.
    QString HoverText(qint64 msecs) const;

    // Ask for a file, then save the chart as a PNG picture / every sample held as CSV.
    void SavePicture();
    void ExportCsv();
    // The same to path; a box names the file when it cannot be written.
    bool SavePictureTo(const QString& path);
    bool ExportCsvTo(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The texts, in the language now in force.
    void Retranslate();
    // Draws every sample in range afresh; a closed window only notes that it must.
    void Rebuild();
    // The time one column of the plot spans now, in ms.
    qint64 Column() const;
    // Draws the newest sample, and lets go of what left the range.
    void OnAdded();
    // Opens a new piece of each phase with the sample's point.
    void StartPieces(const log::CurrentSample& sample);
    void Forget(qint64 from);
    void FitAxes();
    void UpdateLegend();
    // The earliest time in range now; the latest sample's when there is none in range.
    qint64 From() const;
    // A piece at the end of phase's, a spare one when there is one.
    QLineSeries* NewPiece(int phase);
    QLineSeries* MakePiece(int phase);
    // Hides a piece no longer drawn and keeps it for later.
    void Retire(int phase, QLineSeries* piece);

    // Follows the samples drawn: they add and clear.
    void Watch();
    QString Title() const;

    CurrentSamples* m_own; // the window's own, drawn unless a meter of the bus is chosen
    CurrentSamples* m_samples;
    int m_address = -1;
    QChartView* m_view;
    QDateTimeAxis* m_timeAxis;
    QValueAxis* m_valueAxis;
    QComboBox* m_rangeBox;
    QPushButton* m_pause;
    QLabel* m_hover;
    Range m_range = Range::TenMinutes;
    std::array<QList<QLineSeries*>, 3> m_pieces;
    std::array<QList<QLineSeries*>, 3> m_spare; // hidden, empty
    QLabel* m_rangeLabel;
    std::array<QPushButton*, 3> m_buttons{}; // clear, save picture, export CSV
    bool m_gap = true;                       // polls failed since the last point drawn
    bool m_decimated = false;                // the pieces draw the extremes of stretches of time
    bool m_stale = true;                     // samples came or went while the window was closed
    qint64 m_hoverMs = -1;                   // where the hover text was taken, or -1
};

} // namespace md::ui
