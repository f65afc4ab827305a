// The main window's measurement log, about box and external analysis program.

#include "log/LogRecord.h"
#include "ui/AboutDlg.h"
#include "ui/MeterDebugDlg.h"
#include "ui/SaveIntervalDlg.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QTimer>

#include <cstdlib>

namespace md::ui {

namespace {

const QString kLogFile = QStringLiteral("Table.txt");

#ifdef Q_OS_WIN
constexpr const char* kAnalysisCommand = ".\\phasecur.exe";
#else
constexpr const char* kAnalysisCommand = "./phasecur.exe";
#endif

} // namespace

void CMeterDebugDlg::OnStartSave() {
    if (m_bSaving == 1) {
        m_bSaving = 0;
        m_btnSave->setText(tr("开始保存数据"));
        KillTimer(kLogTimer);
        return;
    }

    if (!m_bGbkEncoder) {
        AfxMessageBox(tr("缺少GBK编码器，无法保存数据：记录中的中文无法写入文件"));
        return;
    }

    CSaveIntervalDlg dlg(this);
    dlg.m_nHours = m_nSaveHours;
    dlg.m_nMinutes = m_nSaveMinutes;
    dlg.m_nSeconds = m_nSaveSeconds;
    if (dlg.DoModal() != IDOK)
        return;

    const auto period = log::SavePeriodMs(dlg.m_nHours, dlg.m_nMinutes, dlg.m_nSeconds);
    if (!period) {
        AfxMessageBox(tr("存储时间间隔应在1秒到596时31分23秒之间"));
        return;
    }
    m_bSaving = 1;
    m_btnSave->setText(tr("停止保存数据"));
    SetTimer(kLogTimer, *period);
}

void CMeterDebugDlg::AppendLogRecord() {
    const QByteArray record = log::FormatRecord(m_snapshot, QDateTime::currentDateTimeUtc());
    const log::AppendResult result = log::AppendToFile(kLogFile, record);
    if (result == log::AppendResult::Ok || m_bLogBoxShown)
        return;
    // At most one failure box at a time, shown after the tick rather than inside it: Qt does
    // not re-enter a timer's handler, so a box inside the tick would hold every later tick
    // until it closed. Shown afterwards, the ticks that fall due meanwhile still try to write,
    // and a file that becomes usable again is logged to at once; their failures are not shown
    // again, or a file gone bad would bury the window in boxes.
    m_bLogBoxShown = true;
    const QString text =
        result == log::AppendResult::OpenFailed ? tr("文件打开不成功") : tr("写文件不成功");
    QTimer::singleShot(0, this, [this, text] {
        AfxMessageBox(text);
        m_bLogBoxShown = false;
    });
}

void CMeterDebugDlg::OnTechSupport() {
    CAboutDlg dlg(this);
    dlg.DoModal();
}

// The analysis program is the operator's own business: whether it exists or how it ends is
// not reported, and the window simply waits until the command interpreter returns.
void CMeterDebugDlg::OnPhaseCurrentAnalysis() {
    [[maybe_unused]] const int status = std::system(kAnalysisCommand);
}

} // namespace md::ui
