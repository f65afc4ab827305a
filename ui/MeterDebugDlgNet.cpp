// The main window's words for a meter behind the network: a rate change the converter would not
// follow, and a gateway that cannot reach the meter.

#include "ui/MeterDebugDlg.h"

namespace md::ui {

QString CMeterDebugDlg::RateChangeRefusal() {
    return tr("改变波特率未发送：经网络转换器连接时，波特率和校验由转换器设定。"
              "仪表换了波特率，转换器不会跟着换，仪表就再也连不上了。");
}

void CMeterDebugDlg::NoteGatewayFailure(std::uint64_t collectionsBefore) {
    // An operation that exchanged nothing leaves the note as it is.
    if (Collections() == collectionsBefore)
        return;
    const TraceStatus outcome = LastOutcome();
    const QString note = outcome == TraceStatus::GatewayPath ? tr("网关：到仪表的路径不可用 (0x0A)")
                         : outcome == TraceStatus::GatewayTarget ? tr("网关：仪表没有响应 (0x0B)")
                                                                 : QString();
    QString prompt = m_strPrompt;
    if (!m_strGatewayNote.isEmpty() && prompt.endsWith(m_strGatewayNote))
        prompt.chop(m_strGatewayNote.size());
    m_strGatewayNote = note.isEmpty() ? QString() : QStringLiteral(" ") + note;
    prompt += m_strGatewayNote;
    if (prompt == m_strPrompt)
        return;
    // Only the prompt control is written, as for a loss: the other fields keep what was typed.
    m_strPrompt = prompt;
    SetDlgItemText(kPromptEdit, m_strPrompt);
}

} // namespace md::ui
