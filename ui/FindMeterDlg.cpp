#include "ui/FindMeterDlg.h"

#include "port/DeviceName.h"
#include "port/MSComm.h"
#include "ui/Dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace md::ui {

std::function<QString(int, const QString&)> AimAt(CMSComm& comm) {
    return [&comm](int port, const QString& device) {
        QString before = comm.NamedDevice(port);
        comm.SetDevice(port, device);
        return before;
    };
}

namespace {

QString ParityText(char parity) {
    switch (parity) {
    case 'O':
        return CFindMeterDlg::tr("奇校验");
    case 'E':
        return CFindMeterDlg::tr("偶校验");
    default:
        return CFindMeterDlg::tr("无校验");
    }
}

QString RateText(int rate) {
    return CFindMeterDlg::tr("%1bps").arg(rate);
}

QString TimeText(std::uint64_t ms) {
    const std::uint64_t s = (ms + 999) / 1000;
    return CFindMeterDlg::tr("%1 分 %2 秒").arg(s / 60).arg(s % 60);
}

} // namespace

CFindMeterDlg::CFindMeterDlg(const FindMeterLine& line, int commPort,
                             const meter::ScanPoint& current, QWidget* parent)
    : QDialog(parent), m_line(line), m_commPort(commPort), m_current(current) {
    setWindowTitle(tr("查找仪表"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);

    auto* deviceRow = new QHBoxLayout;
    auto* deviceLabel = new QLabel(tr("设备："), this);
    m_device = new QLineEdit(this);
    m_device->setReadOnly(true);
    m_device->setAccessibleName(tr("设备"));
    deviceLabel->setBuddy(m_device);
    const QString& device = m_line.device;
    m_device->setText(device.isEmpty() ? tr("COM%1").arg(commPort)
                                        : tr("COM%1（%2）").arg(commPort).arg(device));
    deviceRow->addWidget(deviceLabel);
    deviceRow->addWidget(m_device, 1);
    layout->addLayout(deviceRow);
    if (!SetsLine(TransportOf(device))) {
        auto* fixed = new QLabel(tr("波特率和校验由网络转换器设定，只查找地址"), this);
        fixed->setObjectName(QStringLiteral("addressesOnly"));
        fixed->setWordWrap(true);
        layout->addWidget(fixed);
    }

    m_progress = new QProgressBar(this);
    m_progress->setAccessibleName(tr("进度"));
    m_progress->setRange(0, 1); // the probes to go, once a scan starts
    m_progress->setValue(0);
    layout->addWidget(m_progress);

    m_status = new QLabel(tr("未开始"), this);
    m_status->setAccessibleName(tr("状态"));
    // The text changes with every probe; the window keeps its size whatever it says.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_status);

    auto* listLabel = new QLabel(tr("找到的仪表："), this);
    m_list = new QTreeWidget(this);
    m_list->setAccessibleName(tr("找到的仪表"));
    listLabel->setBuddy(m_list);
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tr("地址"), tr("波特率"), tr("校验"), tr("响应时间")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(listLabel);
    layout->addWidget(m_list, 1);

    m_all = new QCheckBox(tr("查找全部"), this);
    // Every meter found goes to the bus window.
    m_useAll = new QPushButton(tr("全部使用"), this);
    m_useAll->setAutoDefault(false);
    auto* allRow = new QHBoxLayout;
    allRow->addWidget(m_all);
    allRow->addStretch(1);
    allRow->addWidget(m_useAll);
    layout->addLayout(allRow);

    auto* buttons = new QHBoxLayout;
    m_start = new QPushButton(tr("开始"), this);
    m_stop = new QPushButton(tr("停止"), this);
    m_use = new QPushButton(tr("使用"), this);
    buttons->addStretch(1);
    for (QPushButton* b : {m_start, m_stop, m_use}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);

    connect(m_start, &QPushButton::clicked, this, &CFindMeterDlg::Start);
    connect(m_stop, &QPushButton::clicked, this, &CFindMeterDlg::Stop);
    connect(m_use, &QPushButton::clicked, this, &CFindMeterDlg::Use);
    connect(m_useAll, &QPushButton::clicked, this, &CFindMeterDlg::UseAll);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CFindMeterDlg::UpdateButtons);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CFindMeterDlg::Use);
    // One probe's piece a tick: the event loop runs between pieces, so the window answers.
    m_steps.setInterval(0);
    connect(&m_steps, &QTimer::timeout, this, &CFindMeterDlg::OnStep);

    resize(460, 360);
    UpdateButtons();
}

CFindMeterDlg::~CFindMeterDlg() {
    Stop();
}

void CFindMeterDlg::Start() {
    if (Running() || !m_line.port || !m_line.clock)
        return;
    m_hits.clear();
    m_list->clear();
    meter::ScanOptions options;
    std::vector<int> addresses;
    for (int a = 1; a <= 247; ++a)
        addresses.push_back(a);
    // Over a converter that keeps its own rate and parity, only the addresses are worth trying.
    const bool linesToo = SetsLine(TransportOf(m_line.device));
    options.order = meter::ScanOrder(
        m_current, addresses,
        linesToo ? std::vector<int>(std::begin(meter::kScanRates), std::end(meter::kScanRates))
                 : std::vector<int>{m_current.baudRate},
        linesToo ? std::vector<char>(std::begin(meter::kScanParities),
                                     std::end(meter::kScanParities))
                 : std::vector<char>{m_current.parity});
    options.all = m_all->isChecked();
    options.commPort = static_cast<std::int16_t>(m_commPort);
    if (m_line.aim) {
        // The scan runs on the device the dialog shows, put behind the port for its time only.
        options.aim = [aim = m_line.aim, port = m_commPort, device = m_line.device,
                       before = QString()](bool scanning) mutable {
            if (scanning)
                before = aim(port, device);
            else
                aim(port, before);
            return before != device;
        };
    }
    m_progress->setRange(0, static_cast<int>(options.order.size()));
    m_scan = std::make_unique<meter::MeterScan>(*m_line.port, *m_line.clock, options);
    m_scan->onFound = [this](const meter::ScanHit& hit) { AddHit(hit); };
    ShowProgress();
    m_steps.start();
    UpdateButtons();
}

void CFindMeterDlg::Stop() {
    if (!Running())
        return;
    m_scan->Cancel();
    while (m_scan->Step()) {
    }
    m_steps.stop();
    ShowEnd();
    UpdateButtons();
}

void CFindMeterDlg::Use() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = m_list->indexOfTopLevelItem(selected.first());
    Stop();
    m_chosen = m_hits[static_cast<std::size_t>(row)];
    accept();
}

void CFindMeterDlg::UseAll() {
    Stop();
    if (m_hits.empty())
        return;
    m_chosenAll.clear();
    for (const meter::ScanHit& hit : m_hits)
        m_chosenAll.push_back(hit.at.address);
    const meter::ScanHit& first = m_hits.front();
    const bool oneLine = std::all_of(m_hits.begin(), m_hits.end(), [&](const meter::ScanHit& h) {
        return h.at.baudRate == first.at.baudRate && h.at.parity == first.at.parity;
    });
    // One line serves one rate and parity: meters found at several are polled at none of them
    // for sure, and the operator decides which to set.
    if (oneLine)
        m_chosen = first;
    else
        AfxMessageBox(tr("找到的仪表波特率或校验不同，波特率和校验未改变"));
    accept();
}

void CFindMeterDlg::reject() {
    Stop();
    QDialog::reject();
}

void CFindMeterDlg::OnStep() {
    if (m_scan->Step()) {
        ShowProgress();
        return;
    }
    m_steps.stop();
    ShowEnd();
    UpdateButtons();
}

void CFindMeterDlg::AddHit(const meter::ScanHit& hit) {
    m_hits.push_back(hit);
    // A meter that missed some of its reads says how many it answered.
    const QString response =
        hit.answered < hit.reads
            ? tr("%1 ms（%2/%3 次应答）").arg(hit.responseMs).arg(hit.answered).arg(hit.reads)
            : tr("%1 ms").arg(hit.responseMs);
    auto* item =
        new QTreeWidgetItem(m_list, {QString::number(hit.at.address), RateText(hit.at.baudRate),
                                     ParityText(hit.at.parity), response});
    // The first meter is the likely choice: "使用" takes it without a click in the list.
    if (m_hits.size() == 1)
        m_list->setCurrentItem(item);
}

void CFindMeterDlg::ShowProgress() {
    const meter::ScanProgress p = m_scan->Progress();
    m_progress->setValue(p.done);
    const QString what = p.confirming ? tr("正在确认") : tr("正在查找");
    QString status = tr("%1：%2 %3 地址 %4，约剩 %5")
                         .arg(what, RateText(p.current.baudRate), ParityText(p.current.parity))
                         .arg(p.current.address)
                         .arg(TimeText(p.leftMs));
    // The line never falls quiet at these settings: the requests go out over the noise.
    if (p.noisy)
        status += tr("（线路有干扰）");
    m_status->setText(status);
}

void CFindMeterDlg::ShowEnd() {
    const meter::ScanProgress p = m_scan->Progress();
    m_progress->setValue(p.done);
    if (!m_scan->Error().empty())
        m_status->setText(QString::fromStdString(m_scan->Error()));
    else if (m_scan->Probes() == 0 && !m_scan->Refusals().empty())
        m_status->setText(QString::fromStdString(m_scan->Refusals().front()));
    else if (m_scan->Cancelled())
        m_status->setText(tr("已停止，找到 %1 台仪表").arg(m_hits.size()));
    else
        m_status->setText(tr("查找结束，找到 %1 台仪表").arg(m_hits.size()));
}

void CFindMeterDlg::UpdateButtons() {
    const bool running = Running();
    m_start->setEnabled(!running && m_line.port && m_line.clock);
    m_stop->setEnabled(running);
    m_all->setEnabled(!running);
    m_use->setEnabled(!m_list->selectedItems().isEmpty());
    m_useAll->setEnabled(!m_hits.empty());
}

} // namespace md::ui
