#include "ui/TrafficMonitor.h"

#include "log/CsvRecord.h"
#include "ui/SaveFile.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace md::ui {

namespace {

const QColor kFailureBackground(255, 215, 215);
const QColor kFailureText(170, 0, 0);

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MonitorModel::MonitorModel(QObject* parent) : QAbstractTableModel(parent) {}

void MonitorModel::Append(TraceRow&& row) {
    if (m_paused) {
        m_held.push_back(std::move(row));
        if (m_held.size() > static_cast<std::size_t>(kRowLimit)) {
            m_held.pop_front();
            ++m_dropped;
        }
        return;
    }
    const int at = static_cast<int>(m_rows.size());
    beginInsertRows({}, at, at);
    m_rows.push_back(std::move(row));
    endInsertRows();
    Trim();
}

void MonitorModel::Trim() {
    if (m_rows.size() <= static_cast<std::size_t>(kRowLimit))
        return;
    const int over = static_cast<int>(m_rows.size()) - kRowLimit;
    beginRemoveRows({}, 0, over - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + over);
    endRemoveRows();
}

void MonitorModel::Clear() {
    beginResetModel();
    m_rows.clear();
    m_held.clear();
    m_dropped = 0;
    endResetModel();
    Q_EMIT PauseChanged();
}

void MonitorModel::SetPaused(bool paused) {
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (paused)
        m_dropped = 0;
    if (!paused && !m_held.empty()) {
        const int at = static_cast<int>(m_rows.size());
        beginInsertRows({}, at, at + static_cast<int>(m_held.size()) - 1);
        std::move(m_held.begin(), m_held.end(), std::back_inserter(m_rows));
        m_held.clear();
        endInsertRows();
        Trim();
    }
    Q_EMIT PauseChanged();
}

QByteArray MonitorModel::TraceText(const QList<int>& rows) const {
    QByteArray text;
    const auto add = [&text](const TraceRow& row) {
        text.append(row.line.data(), static_cast<qsizetype>(row.line.size()));
        text += '\n';
    };
    if (!rows.isEmpty()) {
        for (const int r : rows)
            add(Row(r));
        return text;
    }
    for (const TraceRow& row : m_rows)
        add(row);
    for (const TraceRow& row : m_held)
        add(row);
    return text;
}

int MonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int MonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant MonitorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    const TraceRow& row = Row(index.row());
    const bool failed = IsFailure(row.status);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case kTime:
            return Text(row.Time());
        case kDirection:
            return Text(row.Direction());
        case kBytes:
            return Text(row.Hex());
        case kMeaning:
            return Text(row.Meaning());
        case kStatus:
            return QString::fromLatin1(StatusWord(row.status));
        case kResponse:
            return row.responseMs >= 0 ? QVariant(row.responseMs) : QVariant();
        default:
            return {};
        }
    case Qt::BackgroundRole:
        return failed ? QVariant(kFailureBackground) : QVariant();
    case Qt::ForegroundRole:
        return failed ? QVariant(kFailureText) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == kResponse ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                           : QVariant();
    default:
        return {};
    }
}

QVariant MonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case kTime:
        return tr("时间");
    case kDirection:
        return tr("方向");
    case kBytes:
        return tr("字节");
    case kMeaning:
        return tr("含义");
    case kStatus:
        return tr("状态");
    case kResponse:
        return tr("响应(ms)");
    default:
        return {};
    }
}

MonitorWindow::MonitorWindow(MonitorModel& model, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(model), m_table(new QTableView),
      m_pause(new QPushButton), m_dropped(new QLabel), m_copy(new QAction(this)) {
    setObjectName(QStringLiteral("monitorWindow"));

    m_table->setModel(&model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setWordWrap(false);
    m_table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_table->verticalHeader()->hide();
    // Fixed row heights: the view never measures ten thousand rows.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->horizontalHeader()->setSectionResizeMode(MonitorModel::kMeaning, QHeaderView::Stretch);
    const int digit = m_table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    m_table->setColumnWidth(MonitorModel::kTime, digit * 14);
    m_table->setColumnWidth(MonitorModel::kDirection, digit * 5);
    m_table->setColumnWidth(MonitorModel::kBytes, digit * 40);
    m_table->setColumnWidth(MonitorModel::kStatus, digit * 15);
    m_table->setColumnWidth(MonitorModel::kResponse, digit * 9);

    // The table follows new rows while it is scrolled to its end.
    auto follow = std::make_shared<bool>(true);
    connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, [this, follow] {
        const QScrollBar* bar = m_table->verticalScrollBar();
        *follow = bar->value() == bar->maximum();
    });
    connect(&model, &QAbstractItemModel::rowsInserted, this, [this, follow] {
        if (*follow)
            m_table->scrollToBottom();
    });

    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_copy, &QAction::triggered, this, &MonitorWindow::CopySelection);
    m_table->addAction(m_copy);

    auto* buttons = new QHBoxLayout;
    m_pause->setCheckable(true);
    m_pause->setChecked(model.Paused());
    buttons->addWidget(m_pause);
    connect(m_pause, &QPushButton::toggled, &model, &MonitorModel::SetPaused);
    for (QPushButton*& b : m_buttons) {
        b = new QPushButton;
        buttons->addWidget(b);
    }
    connect(m_buttons[0], &QPushButton::clicked, &model, &MonitorModel::Clear);
    connect(m_buttons[1], &QPushButton::clicked, this, &MonitorWindow::CopySelection);
    connect(m_buttons[2], &QPushButton::clicked, this, &MonitorWindow::Save);
    buttons->addWidget(m_dropped);
    buttons->addStretch();
    connect(&model, &MonitorModel::PauseChanged, this, &MonitorWindow::ShowDropped);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    Retranslate();
    resize(digit * 110, 420);
}

void MonitorWindow::Retranslate() {
    setWindowTitle(tr("通讯监视"));
    m_table->setAccessibleName(tr("通讯记录"));
    Q_EMIT m_model.headerDataChanged(Qt::Horizontal, 0, MonitorModel::kColumns - 1);
    m_copy->setText(tr("复制"));
    m_pause->setText(tr("暂停"));
    m_buttons[0]->setText(tr("清除"));
    m_buttons[1]->setText(tr("复制"));
    m_buttons[2]->setText(tr("保存..."));
    for (QPushButton* b : {m_pause, m_buttons[0], m_buttons[1], m_buttons[2]})
        b->setAccessibleName(b->text());
    ShowDropped();
}

void MonitorWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QWidget::changeEvent(event);
}

void MonitorWindow::ShowDropped() {
    const int dropped = m_model.Paused() ? 0 : m_model.DroppedWhilePaused();
    m_dropped->setText(dropped ? tr("暂停期间到达的最早 %1 行已丢弃").arg(dropped) : QString());
    m_dropped->setAccessibleName(m_dropped->text());
}

void MonitorWindow::CopySelection() {
    QList<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    QApplication::clipboard()->setText(QString::fromUtf8(m_model.TraceText(rows)));
}

void MonitorWindow::Save() {
    const QString path = SaveFileChooser()(this, tr("保存通讯记录"), tr("文本文件 (*.txt)"));
    if (!path.isEmpty())
        SaveTo(path);
}

bool MonitorWindow::SaveTo(const QString& path) {
    if (const auto reason = log::ReplaceFile(path, m_model.TraceText())) {
        ReportUnwritable(path, *reason);
        return false;
    }
    return true;
}

} // namespace md::ui
