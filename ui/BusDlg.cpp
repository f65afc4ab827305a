#include "ui/BusDlg.h"

#include "meter/AddressList.h"
#include "ui/CurrentChart.h"
#include "ui/SaveFile.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace md::ui {

namespace {

constexpr int kIntervalMaxSeconds = 3600;

QString RefusalText(const meter::AddressList& list) {
    const QString item = QString::fromStdString(list.item);
    switch (list.error) {
    case meter::AddressListError::Empty:
        return BusWindow::tr("请输入地址，例如 1,3,5-8");
    case meter::AddressListError::EmptyItem:
        return BusWindow::tr("地址列表中有空项");
    case meter::AddressListError::NotANumber:
        return BusWindow::tr("“%1”不是地址或地址范围").arg(item);
    case meter::AddressListError::OutOfRange:
        return BusWindow::tr("“%1”超出地址范围 1 到 247").arg(item);
    case meter::AddressListError::Reversed:
        return BusWindow::tr("“%1”的范围首尾颠倒").arg(item);
    case meter::AddressListError::None:
        break;
    }
    return {};
}

} // namespace

BusWindow::BusWindow(BusLine line, QWidget* parent)
    : QWidget(parent, Qt::Window), m_line(std::move(line)), m_addressLabel(new QLabel),
      m_addresses(new QLineEdit), m_intervalLabel(new QLabel), m_interval(new QSpinBox),
      m_start(new QPushButton), m_stop(new QPushButton), m_table(new QTableWidget),
      m_status(new QLabel) {
    setObjectName(QStringLiteral("busWindow"));
    m_addressLabel->setBuddy(m_addresses);
    m_intervalLabel->setBuddy(m_interval);
    m_interval->setRange(1, kIntervalMaxSeconds);
    m_interval->setValue(static_cast<int>(meter::kBusIntervalDefaultMs / 1000));
    for (QPushButton* b : {m_start, m_stop})
        b->setAutoDefault(false);
    connect(m_start, &QPushButton::clicked, this, [this] { Start(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { Stop(); });
    connect(m_addresses, &QLineEdit::returnPressed, this, [this] { Start(); });

    m_table->setColumnCount(kColumns);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &BusWindow::OnSelection);

    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_status->setWordWrap(true);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_addressLabel);
    controls->addWidget(m_addresses, 1);
    controls->addWidget(m_intervalLabel);
    controls->addWidget(m_interval);
    controls->addWidget(m_start);
    controls->addWidget(m_stop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);

    // One step at a time from the event loop; the timer's period is set by each step.
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &BusWindow::OnTimer);

    ShowStatus([] { return tr("未开始"); });
    Retranslate();
    UpdateButtons();
    resize(980, 360);
}

BusWindow::~BusWindow() = default;

void BusWindow::Retranslate() {
    setWindowTitle(tr("多表巡检"));
    m_addressLabel->setText(tr("地址:"));
    m_addresses->setPlaceholderText(tr("例如 1,3,5-8"));
    m_addresses->setAccessibleName(tr("仪表地址列表"));
    m_intervalLabel->setText(tr("间隔:"));
    m_interval->setSuffix(tr(" 秒"));
    m_interval->setAccessibleName(tr("巡检间隔（秒）"));
    m_start->setText(tr("开始巡检"));
    m_stop->setText(tr("停止巡检"));
    for (QPushButton* b : {m_start, m_stop})
        b->setAccessibleName(b->text());
    m_table->setHorizontalHeaderLabels({tr("地址"), tr("A相电流"), tr("B相电流"), tr("C相电流"),
                                        tr("小数点"), tr("成功次数"), tr("失败次数"), tr("误码率"),
                                        tr("响应(ms)"), tr("状态")});
    // Wide enough for the header and the widest value a column shows; the state takes the rest.
    // Fixed widths: fitting the columns to their contents would lay the table out afresh at
    // every poll.
    static constexpr int kDigits[kColumns] = {4, 10, 10, 10, 3, 8, 8, 10, 6, 0};
    const QFontMetrics header(m_table->horizontalHeader()->font());
    const int digit = m_table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < kState; ++c)
        m_table->setColumnWidth(
            c, std::max(header.horizontalAdvance(m_table->horizontalHeaderItem(c)->text()),
                        digit * kDigits[c]) +
                   digit * 2);
    m_table->setAccessibleName(tr("总线上的仪表"));
    m_status->setAccessibleName(tr("巡检状态"));
    m_status->setText(m_statusText());
    ShowRows();
}

void BusWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QWidget::changeEvent(event);
}

void BusWindow::ShowStatus(std::function<QString()> text) {
    m_statusText = std::move(text);
    m_status->setText(m_statusText());
}

void BusWindow::UpdateButtons() {
    const bool running = Running();
    m_start->setEnabled(!running && m_line.link && m_line.trace);
    m_stop->setEnabled(running);
    m_addresses->setReadOnly(running);
    m_interval->setEnabled(!running);
}

void BusWindow::SetAddresses(const std::vector<std::uint8_t>& addresses) {
    if (Running())
        Stop();
    m_addresses->setText(QString::fromStdString(meter::AddressListText(addresses)));
    const auto n = addresses.size();
    ShowStatus([n] { return tr("已取得查找到的 %1 台仪表，按“开始巡检”开始").arg(n); });
}

bool BusWindow::Start() {
    if (Running() || !m_line.link || !m_line.trace)
        return false;
    const meter::AddressList list = meter::ParseAddressList(m_addresses->text().toStdString());
    if (list.error != meter::AddressListError::None) {
        ShowStatus([list] { return tr("地址列表有误：%1").arg(RefusalText(list)); });
        m_addresses->setFocus();
        return false;
    }
    // One driver on the line at a time.
    if (m_line.starting)
        m_line.starting();
    m_poller =
        std::make_unique<meter::BusPoller>(*m_line.link, *m_line.trace, list.addresses,
                                           static_cast<std::uint32_t>(m_interval->value()) * 1000);
    m_poller->onPolled = [this](const meter::BusPoll& poll) { OnPolled(poll); };
    m_table->setRowCount(static_cast<int>(m_poller->Meters().size()));
    ShowRows();
    ShowStatus([] { return tr("正在巡检"); });
    UpdateButtons();
    m_timer.start(0);
    return true;
}

void BusWindow::Stop(StopReason why) {
    m_timer.stop();
    // The rows keep what the last cycle showed; the poller goes, and with it its ear on the
    // trace.
    m_poller.reset();
    switch (why) {
    case StopReason::Operator:
        ShowStatus([] { return tr("已停止巡检"); });
        break;
    case StopReason::MainWindowPolls:
        ShowStatus([] { return tr("主窗口开始读测量数据，巡检已停止"); });
        break;
    case StopReason::Settings:
        ShowStatus([] { return tr("通讯设置已打开，巡检已停止"); });
        break;
    }
    UpdateButtons();
}

void BusWindow::OnTimer() {
    const std::uint32_t next = Step();
    if (Running())
        m_timer.start(static_cast<int>(next));
}

std::uint32_t BusWindow::Step() {
    if (!Running())
        return 0;
    std::uint32_t next = 0;
    // The recovery's reopen of a network port runs an event loop, where the polling may be
    // stopped before the step is reached.
    const auto step = [this, &next] {
        if (m_poller)
            next = m_poller->Step();
    };
    if (m_line.onLine)
        m_line.onLine(step);
    else
        step();
    if (!Running()) // stopped from inside the step (a box's loop)
        return 0;
    const std::string lost = m_poller->LineLost();
    if (!lost.empty()) {
        const QString reason = QString::fromStdString(lost);
        ShowStatus([reason] { return tr("线路中断：%1").arg(reason); });
    } else {
        const std::uint64_t cycle = m_poller->Cycles();
        ShowStatus([cycle] { return tr("正在巡检，第 %1 轮").arg(cycle); });
    }
    return next;
}

void BusWindow::OnPolled(const meter::BusPoll& poll) {
    const auto outcome = poll.raw ? "ok" : StatusWord(poll.outcome);
    const log::CurrentSample sample = SampleNow(poll.raw, poll.decimalPoint, outcome);
    auto& samples = m_samples[poll.address];
    if (!samples)
        samples = std::make_unique<CurrentSamples>();
    samples->Add(sample);
    if (!m_csvPath.isEmpty())
        AppendCsv(log::BusCsvRow(poll.address, sample));
    const auto& meters = m_poller->Meters();
    for (std::size_t i = 0; i < meters.size(); ++i)
        if (meters[i].address == poll.address)
            ShowRow(static_cast<int>(i));
}

void BusWindow::ShowRows() {
    if (!m_poller)
        return;
    for (int row = 0; row < m_table->rowCount(); ++row)
        ShowRow(row);
}

void BusWindow::ShowRow(int row) {
    const meter::BusMeter& m = m_poller->Meters()[static_cast<std::size_t>(row)];
    QStringList cells(kColumns);
    cells[kAddress] = QString::number(m.address);
    if (m.raw) {
        const auto texts = meter::CurrentTexts(*m.raw, m.decimalPoint);
        for (int p = 0; p < 3; ++p)
            cells[kPhaseA + p] = QString::fromStdString(texts[std::size_t(p)]);
    }
    if (m.state != meter::BusMeterState::NotYet)
        cells[kDecimalPoint] = QString::number(m.decimalPoint);
    cells[kSuccess] = QString::number(m.successCount);
    cells[kFailure] = QString::number(m.failureCount);
    cells[kErrorRate] =
        QString::fromStdString(meter::ErrorRateText(m.successCount, m.failureCount));
    if (m.responseMs >= 0)
        cells[kResponse] = QString::number(m.responseMs);
    cells[kState] = StateText(m);
    for (int c = 0; c < kColumns; ++c) {
        QTableWidgetItem* item = m_table->item(row, c);
        if (!item) {
            item = new QTableWidgetItem;
            if (c != kState)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, c, item);
        }
        if (item->text() != cells[c])
            item->setText(cells[c]);
    }
}

QString BusWindow::StateText(const meter::BusMeter& m) const {
    QString text;
    switch (m.state) {
    case meter::BusMeterState::NotYet:
        return tr("等待");
    case meter::BusMeterState::Answering:
        return tr("应答");
    case meter::BusMeterState::Refused:
        text = tr("拒绝");
        break;
    case meter::BusMeterState::NoAnswer:
        text = m.why == TraceStatus::NoAnswer
                   ? tr("无应答")
                   : tr("无应答（%1）").arg(QString::fromLatin1(StatusWord(m.why)));
        break;
    }
    if (m.Resting())
        text += tr("，每 %1 轮试一次").arg(meter::kBusRestCycles);
    return text;
}

void BusWindow::OnSelection() {
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    if (selected.isEmpty() || !onSelected)
        return;
    bool ok = false;
    const int address = m_table->item(selected.first()->row(), kAddress)->text().toInt(&ok);
    if (!ok)
        return;
    auto& samples = m_samples[static_cast<std::uint8_t>(address)];
    if (!samples)
        samples = std::make_unique<CurrentSamples>();
    onSelected(static_cast<std::uint8_t>(address), *samples);
}

CurrentSamples* BusWindow::SamplesOf(std::uint8_t address) const {
    const auto it = m_samples.find(address);
    return it == m_samples.end() ? nullptr : it->second.get();
}

void BusWindow::SetCsvFile(const QString& path) {
    m_csvPath = path;
    m_csvFailing = false;
}

void BusWindow::AppendCsv(const QByteArray& rows) {
    const auto reason = log::AppendCsv(m_csvPath, rows, log::BusCsvHeader());
    if (!reason) {
        m_csvFailing = false;
        return;
    }
    if (m_csvFailing)
        return;
    m_csvFailing = true;
    // After the step: a box inside it would hold the polling.
    QTimer::singleShot(0, this,
                       [path = m_csvPath, why = *reason] { ReportUnwritable(path, why); });
}

} // namespace md::ui
