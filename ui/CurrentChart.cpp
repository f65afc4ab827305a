#include "ui/CurrentChart.h"

#include "log/LogRecord.h"
#include "meter/MeterOps.h"
#include "ui/SaveFile.h"

#include <QComboBox>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QPushButton>
#include <QSaveFile>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace md::ui {

namespace {

// The customary colours of phases A, B and C.
const std::array<QColor, 3> kPhaseColours{QColor(215, 165, 0), QColor(0, 150, 60),
                                          QColor(210, 30, 30)};
constexpr qint64 kMinuteMs = 60 * 1000;

// Points drawn of each phase at most; beyond, stretches of time draw their extremes.
constexpr qsizetype kMaxDrawn = 1200;
// Columns of the plot that the range is reckoned in, about its width in pixels.
constexpr qint64 kColumns = kMaxDrawn / 2;

qint64 Ms(const log::CurrentSample& s) {
    return s.time.toMSecsSinceEpoch();
}

bool Earlier(const log::CurrentSample& s, qint64 ms) {
    return Ms(s) < ms;
}

QString Amps(double value) {
    return QString::fromLatin1(log::GeneralNumber(value, 5));
}

QString PhaseName(int phase) {
    switch (phase) {
    case 0:
        return ChartWindow::tr("A相电流");
    case 1:
        return ChartWindow::tr("B相电流");
    default:
        return ChartWindow::tr("C相电流");
    }
}

} // namespace

log::CurrentSample SampleNow(const std::optional<std::array<std::uint16_t, 3>>& raw,
                             int decimalPoint, std::string_view outcome) {
    log::CurrentSample sample;
    // Local time as a fixed offset: the offset of the moment is all a row needs, and the
    // chart converts tens of thousands of these without consulting the time zone each time.
    const QDateTime now = QDateTime::currentDateTime();
    sample.time = now.toOffsetFromUtc(now.offsetFromUtc());
    sample.decimalPoint = decimalPoint;
    sample.ok = raw.has_value();
    if (raw) {
        const double scale = meter::ScaleFor(decimalPoint);
        for (std::size_t i = 0; i < raw->size(); ++i)
            sample.amps[i] = (*raw)[i] * scale;
    }
    sample.outcome = outcome;
    return sample;
}

CurrentSamples::CurrentSamples(QObject* parent) : QObject(parent) {}

void CurrentSamples::Add(const log::CurrentSample& sample) {
    m_samples.push_back(sample);
    if (m_samples.size() > static_cast<std::size_t>(kLimit))
        m_samples.pop_front();
    Q_EMIT Added();
}

void CurrentSamples::Clear() {
    m_samples.clear();
    Q_EMIT Cleared();
}

QByteArray CurrentSamples::Csv() const {
    QByteArray csv = log::CsvHeader();
    for (const log::CurrentSample& s : m_samples)
        csv += log::CsvRow(s);
    return csv;
}

ChartWindow::ChartWindow(CurrentSamples& samples, QWidget* parent)
    : QWidget(parent, Qt::Window), m_own(&samples), m_samples(&samples), m_view(new QChartView),
      m_timeAxis(new QDateTimeAxis), m_valueAxis(new QValueAxis), m_rangeBox(new QComboBox),
      m_pause(new QPushButton), m_hover(new QLabel), m_rangeLabel(new QLabel) {
    setObjectName(QStringLiteral("chartWindow"));

    QChart* chart = m_view->chart();
    chart->legend()->setAlignment(Qt::AlignTop);
    m_valueAxis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(m_timeAxis, Qt::AlignBottom);
    chart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setFocusPolicy(Qt::StrongFocus);

    m_rangeLabel->setBuddy(m_rangeBox);
    m_rangeBox->addItems({QString(), QString(), QString(), QString()});
    m_rangeBox->setCurrentIndex(static_cast<int>(m_range));
    connect(m_rangeBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetRange(static_cast<Range>(index)); });

    m_pause->setCheckable(true);
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        if (!paused)
            Rebuild();
    });
    for (QPushButton*& b : m_buttons)
        b = new QPushButton;
    const auto [clear, picture, csv] = m_buttons;
    connect(clear, &QPushButton::clicked, this, [this] { m_samples->Clear(); });
    connect(picture, &QPushButton::clicked, this, &ChartWindow::SavePicture);
    connect(csv, &QPushButton::clicked, this, &ChartWindow::ExportCsv);

    m_hover->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_hover->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 60);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_rangeLabel);
    controls->addWidget(m_rangeBox);
    for (QPushButton* b : {m_pause, clear, picture, csv})
        controls->addWidget(b);
    controls->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_hover);
    Retranslate();
    resize(760, 460);

    Watch();
}

void ChartWindow::Watch() {
    connect(m_samples, &CurrentSamples::Added, this, &ChartWindow::OnAdded);
    connect(m_samples, &CurrentSamples::Cleared, this, &ChartWindow::Rebuild);
    // A meter's samples go with the window that polled it: the chart goes back to its own.
    if (m_samples != m_own)
        connect(m_samples, &QObject::destroyed, this, [this] {
            m_samples = m_own;
            m_address = -1;
            Watch();
            setWindowTitle(Title());
            Rebuild();
        });
}

void ChartWindow::ShowSamples(CurrentSamples& samples, int address) {
    m_address = address;
    if (m_samples != &samples) {
        disconnect(m_samples, nullptr, this, nullptr);
        m_samples = &samples;
        Watch();
    }
    setWindowTitle(Title());
    Rebuild();
}

QString ChartWindow::Title() const {
    return m_address < 0 ? tr("电流曲线") : tr("电流曲线 - 地址 %1").arg(m_address);
}

// Texts are set here, in place, so that a change of language keeps the range, the pause and
// what is drawn.
void ChartWindow::Retranslate() {
    setWindowTitle(Title());
    m_timeAxis->setTitleText(tr("时间"));
    m_valueAxis->setTitleText(tr("电流"));
    m_view->setAccessibleName(tr("电流曲线图"));
    m_view->viewport()->setAccessibleName(m_view->accessibleName());
    m_rangeLabel->setText(tr("时间范围:"));
    const QStringList ranges{tr("1 分钟"), tr("10 分钟"), tr("1 小时"), tr("全部")};
    for (int i = 0; i < ranges.size(); ++i)
        m_rangeBox->setItemText(i, ranges[i]);
    m_rangeBox->setAccessibleName(tr("时间范围"));
    m_pause->setText(tr("暂停"));
    m_buttons[0]->setText(tr("清除"));
    m_buttons[1]->setText(tr("保存图片..."));
    m_buttons[2]->setText(tr("导出CSV..."));
    for (QPushButton* b : {m_pause, m_buttons[0], m_buttons[1], m_buttons[2]})
        b->setAccessibleName(b->text());
    m_hover->setAccessibleName(tr("光标处的值"));
    if (m_hoverMs >= 0)
        m_hover->setText(HoverText(m_hoverMs));
    for (int p = 0; p < 3; ++p)
        for (QLineSeries* piece : m_pieces[std::size_t(p)])
            piece->setName(PhaseName(p));
}

void ChartWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QWidget::changeEvent(event);
}

void ChartWindow::showEvent(QShowEvent* event) {
    if (m_stale)
        Rebuild();
    QWidget::showEvent(event);
}

void ChartWindow::SetRange(Range range) {
    m_range = range;
    if (m_rangeBox->currentIndex() != static_cast<int>(range))
        m_rangeBox->setCurrentIndex(static_cast<int>(range));
    m_timeAxis->setFormat(range == Range::All    ? QStringLiteral("MM-dd HH:mm")
                          : range == Range::Hour ? QStringLiteral("HH:mm")
                                                 : QStringLiteral("HH:mm:ss"));
    Rebuild();
}

qint64 ChartWindow::From() const {
    const auto& all = m_samples->All();
    if (all.empty())
        return 0;
    switch (m_range) {
    case Range::Minute:
        return Ms(all.back()) - kMinuteMs;
    case Range::TenMinutes:
        return Ms(all.back()) - 10 * kMinuteMs;
    case Range::Hour:
        return Ms(all.back()) - 60 * kMinuteMs;
    case Range::All:
        break;
    }
    return Ms(all.front());
}

QLineSeries* ChartWindow::NewPiece(int phase) {
    auto& spare = m_spare[std::size_t(phase)];
    QLineSeries* piece = spare.isEmpty() ? MakePiece(phase) : spare.takeLast();
    piece->setVisible(true);
    // One legend entry a phase, however many pieces it is drawn in.
    for (QLegendMarker* marker : m_view->chart()->legend()->markers(piece))
        marker->setVisible(m_pieces[std::size_t(phase)].isEmpty());
    m_pieces[std::size_t(phase)].append(piece);
    return piece;
}

// Series made and deleted with each gap left memory behind them in the chart, some 3 KiB a
// series: pieces no longer drawn are kept hidden for the next gap instead.
void ChartWindow::Retire(int phase, QLineSeries* piece) {
    piece->clear();
    piece->setVisible(false);
    for (QLegendMarker* marker : m_view->chart()->legend()->markers(piece))
        marker->setVisible(false);
    m_spare[std::size_t(phase)].append(piece);
}

QLineSeries* ChartWindow::MakePiece(int phase) {
    auto* piece = new QLineSeries;
    piece->setName(PhaseName(phase));
    QPen pen(kPhaseColours[std::size_t(phase)]);
    pen.setWidthF(1.5);
    piece->setPen(pen);
    piece->setColor(kPhaseColours[std::size_t(phase)]);
    m_view->chart()->addSeries(piece);
    piece->attachAxis(m_timeAxis);
    piece->attachAxis(m_valueAxis);
    connect(piece, &QLineSeries::hovered, this, [this](const QPointF& point, bool state) {
        if (!state)
            return;
        m_hoverMs = static_cast<qint64>(point.x());
        const QString text = HoverText(m_hoverMs);
        m_hover->setText(text);
        QToolTip::showText(QCursor::pos(), text, m_view);
    });
    return piece;
}

qint64 ChartWindow::Column() const {
    const auto& all = m_samples->All();
    return all.empty() ? 0 : (Ms(all.back()) - From()) / kColumns;
}

namespace {

// The narrowest gap, in ms between the answered polls around it, that parts the lines in
// [begin, end): wider than column (-1: every gap, however close its polls came), and among the
// kMaxPieces - 1 widest.
qint64 PartingGap(std::deque<log::CurrentSample>::const_iterator begin,
                  std::deque<log::CurrentSample>::const_iterator end, qint64 column) {
    std::vector<qint64> wide;
    std::optional<qint64> lastOk;
    bool failed = false;
    for (auto it = begin; it != end; ++it) {
        if (!it->ok) {
            failed = true;
            continue;
        }
        if (failed && lastOk && Ms(*it) - *lastOk > column)
            wide.push_back(Ms(*it) - *lastOk);
        failed = false;
        lastOk = Ms(*it);
    }
    if (wide.size() < static_cast<std::size_t>(ChartWindow::kMaxPieces))
        return column;
    // Too many to draw: the rest go on as one line, the ties of the narrowest kept one included.
    const auto nth = wide.begin() + (ChartWindow::kMaxPieces - 1);
    std::nth_element(wide.begin(), nth, wide.end(), std::greater<>());
    return *nth;
}

} // namespace

void ChartWindow::Rebuild() {
    if (!isVisible()) {
        m_stale = true;
        return;
    }
    m_stale = false;
    const auto& all = m_samples->All();
    const qint64 from = From();
    const auto begin = std::lower_bound(all.begin(), all.end(), from, Earlier);
    // More samples than the plot has room for: each stretch of time draws its lowest and its
    // highest value, so that the envelope stays whole and the drawing stays quick.
    m_decimated = all.end() - begin > kMaxDrawn;
    const qint64 stretch = m_decimated ? (Ms(all.back()) - from) / (kMaxDrawn / 2) + 1 : 1;
    // Drawn sample by sample, every failed poll parts the lines; decimated, a gap narrower than
    // a column would not show.
    const qint64 parting = PartingGap(begin, all.end(), m_decimated ? Column() : -1);

    // The pieces already drawn are given their new points; a series made afresh costs far more.
    std::array<QList<QPointF>, 3> points;
    qsizetype pieces = 0;
    const auto flush = [&] {
        if (points[0].isEmpty())
            return;
        for (int p = 0; p < 3; ++p) {
            auto& drawn = m_pieces[std::size_t(p)];
            QLineSeries* piece = pieces < drawn.size() ? drawn[pieces] : NewPiece(p);
            piece->replace(points[std::size_t(p)]);
            points[std::size_t(p)].clear();
        }
        ++pieces;
    };
    const auto point = [](const log::CurrentSample& s, std::size_t p) {
        return QPointF(static_cast<qreal>(Ms(s)), s.amps[p]);
    };
    std::optional<qint64> lastOk;
    bool failed = false;
    for (auto it = begin; it != all.end();) {
        const qint64 end = Ms(*it) + stretch - (Ms(*it) - from) % stretch;
        const auto stop =
            m_decimated ? std::find_if(it, all.end(),
                                       [end](const log::CurrentSample& s) { return Ms(s) >= end; })
                        : std::next(it);
        std::array<const log::CurrentSample*, 3> low{}, high{};
        const auto extremes = [&] {
            for (std::size_t p = 0; p < 3; ++p) {
                if (!low[p])
                    continue;
                const bool lowFirst = Ms(*low[p]) <= Ms(*high[p]);
                points[p].append(point(lowFirst ? *low[p] : *high[p], p));
                if (low[p] != high[p])
                    points[p].append(point(lowFirst ? *high[p] : *low[p], p));
                low[p] = high[p] = nullptr;
            }
        };
        for (; it != stop; ++it) {
            if (!it->ok) {
                failed = true;
                continue;
            }
            // Failed polls wide enough to show part the lines.
            if (failed && lastOk && Ms(*it) - *lastOk > parting) {
                extremes();
                flush();
            }
            failed = false;
            lastOk = Ms(*it);
            for (std::size_t p = 0; p < 3; ++p) {
                if (!low[p] || it->amps[p] < low[p]->amps[p])
                    low[p] = &*it;
                if (!high[p] || it->amps[p] > high[p]->amps[p])
                    high[p] = &*it;
            }
        }
        extremes();
    }
    flush();
    for (int p = 0; p < 3; ++p)
        while (m_pieces[std::size_t(p)].size() > pieces)
            Retire(p, m_pieces[std::size_t(p)].takeLast());
    m_gap = all.empty() || !all.back().ok;
    for (const auto& drawn : m_pieces)
        for (QLineSeries* piece : drawn)
            piece->setPointsVisible(piece->count() == 1);
    FitAxes();
}

void ChartWindow::StartPieces(const log::CurrentSample& s) {
    for (int p = 0; p < 3; ++p) {
        QLineSeries* piece = NewPiece(p);
        piece->append(static_cast<qreal>(Ms(s)), s.amps[std::size_t(p)]);
        // A lone point has no line to show it.
        piece->setPointsVisible(true);
    }
}

void ChartWindow::OnAdded() {
    if (m_pause->isChecked())
        return;
    const auto& all = m_samples->All();
    if (!isVisible() || m_decimated ||
        all.end() - std::lower_bound(all.begin(), all.end(), From(), Earlier) > kMaxDrawn) {
        Rebuild();
        return;
    }
    const log::CurrentSample& s = all.back();
    const bool drawn = !m_pieces[0].isEmpty();
    if (!s.ok) {
        m_gap = true;
    } else if (!drawn || m_gap) {
        // Beyond the bound of pieces, the widest gaps are found afresh.
        if (m_pieces[0].size() >= kMaxPieces) {
            Rebuild();
            return;
        }
        StartPieces(s);
        m_gap = false;
    } else {
        for (std::size_t p = 0; p < 3; ++p) {
            QLineSeries* piece = m_pieces[p].back();
            piece->append(static_cast<qreal>(Ms(s)), s.amps[p]);
            if (piece->count() == 2)
                piece->setPointsVisible(false);
        }
    }
    Forget(From());
    FitAxes();
}

// Points before from are dropped, and pieces left empty with them.
void ChartWindow::Forget(qint64 from) {
    bool removed = false;
    for (int p = 0; p < 3; ++p)
        for (auto& pieces = m_pieces[std::size_t(p)]; !pieces.isEmpty();) {
            QLineSeries* first = pieces.front();
            int old = 0;
            while (old < first->count() && first->at(old).x() < static_cast<qreal>(from))
                ++old;
            if (old < first->count()) {
                if (old > 0)
                    first->removePoints(0, old);
                break;
            }
            Retire(p, pieces.takeFirst());
            removed = true;
        }
    if (removed)
        UpdateLegend();
}

// One legend entry a phase, however many pieces it is drawn in: the first piece's.
void ChartWindow::UpdateLegend() {
    for (QLegendMarker* marker : m_view->chart()->legend()->markers()) {
        bool first = false;
        for (const auto& pieces : m_pieces)
            first = first || (!pieces.isEmpty() && pieces.front() == marker->series());
        marker->setVisible(first);
    }
}

void ChartWindow::FitAxes() {
    const auto& all = m_samples->All();
    const qint64 last = all.empty() ? QDateTime::currentMSecsSinceEpoch() : Ms(all.back());
    qint64 from = all.empty() ? last - 10 * kMinuteMs : From();
    if (from >= last)
        from = last - kMinuteMs;
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from),
                         QDateTime::fromMSecsSinceEpoch(last));

    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (auto it = all.rbegin(); it != all.rend() && Ms(*it) >= from; ++it)
        if (it->ok)
            for (const double a : it->amps) {
                low = std::min(low, a);
                high = std::max(high, a);
            }
    if (low > high) {
        low = 0;
        high = 1;
    }
    // Each change of an axis lays out all its labels anew, the dearest part of a redraw: the
    // axis stays while it holds the data and the data fill more than half of it.
    const double margin = low == high ? 1 : (high - low) * 0.05;
    const double shown = m_valueAxis->max() - m_valueAxis->min();
    if (low >= m_valueAxis->min() && high <= m_valueAxis->max() &&
        high - low + 2 * margin >= shown / 2)
        return;
    // Currents are never negative: an axis below zero would only waste the chart's height.
    m_valueAxis->setRange(low >= 0 ? std::max(0.0, low - margin) : low - margin, high + margin);
    m_valueAxis->applyNiceNumbers();
}

QString ChartWindow::HoverText(qint64 msecs) const {
    const auto& all = m_samples->All();
    const log::CurrentSample* nearest = nullptr;
    qint64 best = std::numeric_limits<qint64>::max();
    auto it = std::lower_bound(all.begin(), all.end(), msecs, Earlier);
    // The answered polls on either side of msecs.
    for (auto after = it; after != all.end(); ++after)
        if (after->ok) {
            best = Ms(*after) - msecs;
            nearest = &*after;
            break;
        }
    for (auto before = it; before != all.begin();)
        if ((--before)->ok) {
            if (msecs - Ms(*before) <= best)
                nearest = &*before;
            break;
        }
    if (!nearest)
        return {};
    return tr("%1  A相 %2  B相 %3  C相 %4")
        .arg(nearest->time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Amps(nearest->amps[0]),
             Amps(nearest->amps[1]), Amps(nearest->amps[2]));
}

void ChartWindow::SavePicture() {
    const QString path = SaveFileChooser()(this, tr("保存图片"), tr("PNG 图片 (*.png)"));
    if (!path.isEmpty())
        SavePictureTo(path);
}

void ChartWindow::ExportCsv() {
    const QString path = SaveFileChooser()(this, tr("导出CSV"), tr("CSV 文件 (*.csv)"));
    if (!path.isEmpty())
        ExportCsvTo(path);
}

bool ChartWindow::SavePictureTo(const QString& path) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && m_view->grab().save(&file, "PNG") && file.commit())
        return true;
    ReportUnwritable(path, file.errorString());
    return false;
}

bool ChartWindow::ExportCsvTo(const QString& path) {
    if (const auto reason = log::ReplaceFile(path, m_samples->Csv())) {
        ReportUnwritable(path, *reason);
        return false;
    }
    return true;
}

} // namespace md::ui
