// The main window's parameter block, address change, measurement polling and relay/switch
// status.

#include "meter/MeterOps.h"
#include "ui/MeterDebugDlg.h"

#include <QAbstractButton>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QWindow>

namespace md::ui {

namespace {

constexpr std::uint32_t kPollPeriodMs = 2000;
constexpr int kReadMeasurementsButton = 1065;
constexpr int kWriteParamsButton = 1024;
constexpr int kRelayEdit = 1073;
constexpr int kSwitchEdit = 1074;

const QColor kOnColour(255, 0, 0);
const QColor kOffColour(50, 255, 0);
const QColor kStateBackground(189, 189, 189);

// A coloured character painted over a control. It lasts until the window system next asks the
// window to be drawn again (the window was covered, minimised, hidden): then the control is back
// to its own empty face. Repaints that our own data exchange causes leave it in place, because
// they are not the window system's.
class StateOverlay final : public QWidget {
    Q_OBJECT
public:
    explicit StateOverlay(QWidget* control) : QWidget(control) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("stateText"));
    }

    // The overlay over control, made on first use.
    static StateOverlay& Over(QWidget& control) {
        auto* overlay = control.findChild<StateOverlay*>(QString(), Qt::FindDirectChildrenOnly);
        return overlay ? *overlay : *new StateOverlay(&control);
    }

    void Paint(const QString& text, const QColor& colour) {
        m_text = text;
        m_colour = colour;
        WatchWindow();
        setGeometry(parentWidget()->rect());
        show();
        raise();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        constexpr int flags = Qt::AlignCenter | Qt::TextSingleLine;
        QPainter painter(this);
        // An opaque cell behind the character only; the rest shows the control beneath.
        painter.fillRect(fontMetrics().boundingRect(rect(), flags, m_text), kStateBackground);
        painter.setPen(m_colour);
        painter.drawText(rect(), flags, m_text);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_window && event->type() == QEvent::Expose)
            hide();
        return false;
    }

private:
    void WatchWindow() {
        QWindow* handle = window()->windowHandle();
        if (handle == m_window)
            return;
        if (m_window)
            m_window->removeEventFilter(this);
        m_window = handle;
        if (m_window)
            m_window->installEventFilter(this);
    }

    QString m_text;
    QColor m_colour;
    QPointer<QWindow> m_window;
};

// Under local echo, a read answered without the adapter's echo: said once, after what the prompt
// line says, since every write is judged differently from then on.
void AddNoEchoNews(CExchange& link, QString& prompt) {
    if (link.TakeNoEchoNews())
        prompt += QStringLiteral("  ") + CMeterDebugDlg::tr("未收到本地回送");
}

} // namespace

void CMeterDebugDlg::OnReadParams() {
    const std::uint8_t address = m_byMeterAddress;
    bool answered = false;
    // Every answered read shows all fields at once.
    const auto shown = [&](int& member, int value) {
        member = value;
        answered = true;
        UpdateData(false);
    };
    if (const auto v = meter::ReadUpperLimit(m_link, address))
        shown(m_nUpperLimit, *v);
    if (const auto v = meter::ReadLowerLimit(m_link, address))
        shown(m_nLowerLimit, *v);
    if (const auto v = meter::ReadDecimalPoint(m_link, address))
        shown(m_nDecimalPoint, *v);
    if (const auto v = meter::ReadBaudCode(m_link, address))
        shown(m_nParamBaudRate, *v);
    m_strPrompt = answered ? tr("已读参数数据...") : tr("读参数数据不成功...");
    AddNoEchoNews(m_link, m_strPrompt);
    UpdateData(false);
}

void CMeterDebugDlg::OnWriteParams() {
    // Every write takes the fields afresh. A take that fails has already shown its prompt; the
    // values it left behind are not the operator's, so nothing more is sent. A value its
    // register cannot carry would go out cut to 16 bits, a number nobody typed: it is refused
    // the same way, and since the first take comes before the first write, nothing is sent.
    const auto take = [this]() -> std::optional<meter::ParamValues> {
        if (!UpdateData(true))
            return std::nullopt;
        // In the order of the data exchange, so the first field refused is the first one shown.
        for (const auto& [id, value] : {std::pair{1061, m_nParamBaudRate},
                                        {1059, m_nUpperLimit},
                                        {1052, m_nDecimalPoint},
                                        {1060, m_nLowerLimit}})
            if (!CheckRange(id, value, meter::kRegisterMin, meter::kRegisterMax))
                return std::nullopt;
        meter::ParamValues values;
        values.decimalPoint = m_nDecimalPoint;
        values.upperLimit = m_nUpperLimit;
        values.lowerLimit = m_nLowerLimit;
        values.baudRate = m_nParamBaudRate;
        return values;
    };
    const meter::ParamWriteResult result = meter::WriteParams(m_link, m_byMeterAddress, take);
    if (result.outcome == meter::WriteOutcome::Abandoned)
        return;
    // The field keeps the code that went out until the next read turns it back into a rate.
    m_nParamBaudRate = result.baudCode;
    m_strPrompt = tr("写参数数据...");
    UpdateData(false);
    AfxMessageBox(result.outcome == meter::WriteOutcome::Confirmed ? tr("写数据成功！")
                                                                   : tr("写数据不成功"));
}

void CMeterDebugDlg::OnModifyAddress() {
    // A failed take stops before 1058 is taken, so the address would be a stale one. 0 is the
    // broadcast address and 248 and above are reserved: no meter can be given them.
    if (!UpdateData(true) || !CheckRange(kLocalAddressEdit, m_nLocalAddress, meter::kOwnAddressMin,
                                         meter::kOwnAddressMax))
        return;
    const bool confirmed = meter::WriteOwnAddress(m_link, m_byMeterAddress,
                                                  static_cast<std::uint8_t>(m_nLocalAddress));
    m_strPrompt = tr("修改地址信息...");
    UpdateData(false);
    AfxMessageBox(confirmed ? tr("写本机地址成功！") : tr("写本机地址不成功"));
}

void CMeterDebugDlg::OnReadMeasurements() {
    StopBusForOwnPolling();
    // The chart draws what this window polls again.
    ChartDraws(nullptr, -1);
    Button(kReadMeasurementsButton)->setEnabled(false);
    Button(kWriteParamsButton)->setEnabled(false);
    m_strPrompt = tr("正在读测量数据...");
    UpdateData(false);
    SetTimer(kPollTimer, kPollPeriodMs);
}

void CMeterDebugDlg::OnStop() {
    KillTimer(kPollTimer);
    Button(kReadMeasurementsButton)->setEnabled(true);
    Button(kWriteParamsButton)->setEnabled(true);
    m_strPrompt = tr("已停止读测量数据...");
    UpdateData(false);
}

void CMeterDebugDlg::PollMeasurements() {
    if (m_bPolling)
        return;
    m_bPolling = true;
    const auto done = qScopeGuard([this] { m_bPolling = false; });
    // The take keeps what the operator typed across the refresh at the end; a field that does
    // not convert is reported and the poll goes on.
    UpdateData(true);
    const meter::CurrentsPoll poll = meter::PollCurrents(m_link, m_byMeterAddress);
    if (poll.decimalPoint)
        m_nDecimalPoint = *poll.decimalPoint;
    const int decimalPoint = m_nDecimalPoint; // the scale of this poll
    const auto& raw = poll.raw;
    if (raw) {
        const auto texts = meter::CurrentTexts(*raw, decimalPoint);
        m_strCurrentA = QString::fromStdString(texts[0]);
        m_strCurrentB = QString::fromStdString(texts[1]);
        m_strCurrentC = QString::fromStdString(texts[2]);
        ++m_nSuccessCount;
    } else {
        ++m_nFailureCount;
    }
    RecordCurrents(raw, decimalPoint);
    // Every poll, answered or not, counts in the rate, and the rate includes it.
    m_strErrorRate = QString::fromStdString(meter::ErrorRateText(m_nSuccessCount, m_nFailureCount));
    AddNoEchoNews(m_link, m_strPrompt);
    UpdateData(false);
}

void CMeterDebugDlg::OnReadSwitchState() {
    ReadSwitchState();
}

void CMeterDebugDlg::ReadSwitchState() {
    const auto state = meter::ReadSwitchState(m_link, m_byMeterAddress);
    if (!state)
        return;
    if (state->relayOn)
        PaintStateText(kRelayEdit, tr("通"), kOnColour);
    else
        PaintStateText(kRelayEdit, tr("断"), kOffColour);
    if (state->switchClosed)
        PaintStateText(kSwitchEdit, tr("合"), kOnColour);
    else
        PaintStateText(kSwitchEdit, tr("分"), kOffColour);
    UpdateData(false);
}

void CMeterDebugDlg::PaintStateText(int id, const QString& text, QColor colour) {
    StateOverlay::Over(*Item(id)).Paint(text, colour);
}

} // namespace md::ui

#include "MeterDebugDlgMeasure.moc"
