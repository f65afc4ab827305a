// The main window's measurement log, about box and external analysis program.

#include "log/LogRecord.h"
#include "ui/AboutDlg.h"
#include "ui/MeterDebugDlg.h"
#include "ui/SaveIntervalDlg.h"

#include <QAbstractButton>
#include <QDateTime>
#include <QPointer>
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

// At most one failure box per window at a time. The box is shown after the tick, not inside
// it, so the ticks that fall due while it is open still run and still try to write: a file
// that becomes usable again is logged to at once. A failure while a box is pending or open
// is not shown again; otherwise a file gone bad would bury the window in boxes. The marker
// child exists from the failure until its box is closed, and dies with the window.
const QString kFailureBoxMarker = QStringLiteral("logFailureBox");

void ReportLogFailure(CMeterDebugDlg& wnd, log::AppendResult result) {
    if (wnd.findChild<QObject*>(kFailureBoxMarker, Qt::FindDirectChildrenOnly))
        return;
    auto* marker = new QObject(&wnd);
    marker->setObjectName(kFailureBoxMarker);
    const QString text = result == log::AppendResult::OpenFailed ? QStringLiteral("文件打开不成功")
                                                                 : QStringLiteral("写文件不成功");
    QTimer::singleShot(0, marker, [marker, text] {
        const QPointer<QObject> alive(marker);
        AfxMessageBox(text);
        if (alive) {
            alive->setObjectName(QString());
            alive->deleteLater();
        }
    });
}

} // namespace

void CMeterDebugDlg::OnStartSave() {
    if (m_bSaving == 1) {
        m_bSaving = 0;
        m_btnSave->setText(QStringLiteral("开始保存数据"));
        KillTimer(kLogTimer);
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
        AfxMessageBox(QStringLiteral("存储时间间隔应在1秒到596时31分23秒之间"));
        return;
    }
    m_bSaving = 1;
    m_btnSave->setText(QStringLiteral("停止保存数据"));
    SetTimer(kLogTimer, *period);
}

void CMeterDebugDlg::AppendLogRecord() {
    const QByteArray record = log::FormatRecord(m_snapshot, QDateTime::currentDateTimeUtc());
    const log::AppendResult result = log::AppendToFile(kLogFile, record);
    if (result != log::AppendResult::Ok)
        ReportLogFailure(*this, result);
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
