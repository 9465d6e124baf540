#include "ui/EchoWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "logger/EchoFormat.h"
#include "logger/LoggerCore.h"
#include "logger/SqlTexts.h"
#include "support/DateText.h"
#include "support/Hs.h"
#include "support/XapGlobal.h"

namespace {
const QString kProgramName = QStringLiteral("xapzelQuilljot");
const QString kIniFile = QStringLiteral("zelXapQuilljot.ini");
constexpr double kTwipsPerInch = 1440.0;
}  // namespace

EchoWindow::EchoWindow(XapGlobal& global, LoggerCore& logger, QWidget* parent)
    : QWidget(parent, Qt::Window), m_g(global), m_logger(logger) {
    setObjectName(QStringLiteral("EchoWindow"));
    setWindowTitle(QStringLiteral("Quilljot Snapshot"));
    setWindowIcon(QIcon());

    m_history = new QPushButton(QStringLiteral("History"), this);
    m_history->setObjectName(QStringLiteral("aHistory"));
    m_sourceFilter = new QLineEdit(this);
    m_sourceFilter->setObjectName(QStringLiteral("aSourceFilter"));
    m_categoryFilter = new QLineEdit(this);
    m_categoryFilter->setObjectName(QStringLiteral("aCategoryFilter"));
    m_dataFilter = new QLineEdit(this);
    m_dataFilter->setObjectName(QStringLiteral("aDataFilter"));
    m_freeze = new QCheckBox(QStringLiteral("Freeze"), this);
    m_freeze->setObjectName(QStringLiteral("Freeze"));
    m_commData = new QPlainTextEdit(this);
    m_commData->setObjectName(QStringLiteral("CommData"));
    m_commData->setReadOnly(true);
    m_commData->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_commData->setFont(mono);
    // Sources are padded to 20 characters; a tab stop just past them lines the times up.
    m_commData->setTabStopDistance(QFontMetricsF(mono).horizontalAdvance(u' ') * 22);

    auto* row = new QHBoxLayout;
    row->addWidget(m_history);
    const std::pair<const char16_t*, QLineEdit*> filters[] = {
        {u"Source", m_sourceFilter}, {u"Type", m_categoryFilter}, {u"Data", m_dataFilter}};
    for (const auto& [caption, box] : filters) {
        auto* label = new QLabel(QString::fromUtf16(caption), this);
        label->setBuddy(box);
        row->addWidget(label);
        row->addWidget(box, 1);
    }
    row->addWidget(m_freeze);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(m_commData, 1);

    connect(m_history, &QPushButton::clicked, this, &EchoWindow::aHistory_Click);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(100);
    connect(&m_refresh, &QTimer::timeout, this, &EchoWindow::refresh);
}

double EchoWindow::twipsPerPixelX() const {
    return kTwipsPerInch / logicalDpiX();
}
double EchoWindow::twipsPerPixelY() const {
    return kTwipsPerInch / logicalDpiY();
}

QString EchoWindow::setting(const QString& key, const QString& fallback) {
    return m_g.hs().GetINISetting(QStringLiteral("Quilljot"), key, fallback, kIniFile);
}

void EchoWindow::save(const QString& key, const QString& value) {
    m_g.hs().SaveIniSetting(QStringLiteral("Quilljot"), key, value, kIniFile);
}

void EchoWindow::Form_Load() {
    try {
        // Text that is not a number counts as 0; the layout's minimum size then applies.
        const int h =
            qRound(setting(QStringLiteral("WindowHeight"), QStringLiteral("5000")).toDouble() /
                   twipsPerPixelY());
        const int w =
            qRound(setting(QStringLiteral("WindowWidth"), QStringLiteral("11000")).toDouble() /
                   twipsPerPixelX());
        resize(std::max(w, minimumSizeHint().width()), std::max(h, minimumSizeHint().height()));
        m_categoryFilter->setText(setting(QStringLiteral("CategoryFilter"), QString()));
        m_sourceFilter->setText(setting(QStringLiteral("SourceFilter"), QString()));
        m_dataFilter->setText(setting(QStringLiteral("DataFilter"), QString()));
        ScrollEchoWindows();
    } catch (const std::exception& e) {
        m_g.setPendingError(e, 1);
        m_g.SendEventLog(kProgramName, QStringLiteral("Echo Form Load"));
    }
}

void EchoWindow::Echo(const QString& s0, const QString& s1, const QString& s2, const QString& s3) {
    try {
        if (m_freeze->isChecked()) {
            return;
        }
        if (!EchoFormat::matches(m_categoryFilter->text(), m_dataFilter->text(), s2, s3)) {
            return;
        }
        m_text = EchoFormat::append(m_text, EchoFormat::line(s0, s1, s2, s3, m_g.clock()));
        // A burst of events redraws the text box once, not once per event.
        if (!m_refresh.isActive()) {
            m_refresh.start();
        }
    } catch (const std::exception& e) {
        m_g.setPendingError(e, 1);
        m_g.SendEventLog(kProgramName, QStringLiteral("Echo"));
    }
}

void EchoWindow::setEchoText(const QString& text) {
    m_text = text;
    refresh();
}

void EchoWindow::refresh() {
    m_refresh.stop();
    m_commData->setPlainText(m_text);
    ScrollEchoWindows();
}

void EchoWindow::ScrollEchoWindows() {
    if (m_freeze->isChecked()) {
        return;
    }
    QScrollBar* bar = m_commData->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void EchoWindow::aHistory_Click() {
    if (m_g.bEchoHistory) {
        m_history->setText(QStringLiteral("History"));
        RestoreEchoText();
    } else {
        m_history->setText(QStringLiteral("Current"));
        m_savedEcho = m_text;
        FillWindowFromDatabase();
        refresh();
    }
    m_g.bEchoHistory = !m_g.bEchoHistory;
}

void EchoWindow::FillWindowFromDatabase() {
    const QString since = DateText::isoText(m_g.clock().addDays(-7));
    const QString query = SqlTexts::historyQuery(
        m_logger.sDatabaseTable, m_sourceFilter->text(), m_categoryFilter->text(),
        m_dataFilter->text(), m_logger.sWildcard, m_logger.sDateDelimiter, since);
    try {
        SqlTexts::checkFilter(m_sourceFilter->text());
        SqlTexts::checkFilter(m_categoryFilter->text());
        SqlTexts::checkFilter(m_dataFilter->text());
        if (m_logger.dbConnection() == nullptr) {
            throw std::runtime_error("The database is not open");
        }
        for (RecordSet rs = m_logger.dbConnection()->execute(query); !rs.EOF_(); rs.movenext()) {
            Echo(rs.Fields(QStringLiteral("Source")).toString(),
                 rs.Fields(QStringLiteral("SampleDate")).toString(),
                 rs.Fields(QStringLiteral("Category")).toString(),
                 rs.Fields(QStringLiteral("Data")).toString());
        }
    } catch (const std::exception& e) {
        m_g.setPendingError(e, 3);
        m_g.SendEventLog(kProgramName, QStringLiteral("FillWindowFromDatabase ") + query);
    }
}

void EchoWindow::closeEvent(QCloseEvent* event) {
    try {
        save(QStringLiteral("WindowHeight"), QString::number(qRound(height() * twipsPerPixelY())));
        save(QStringLiteral("WindowWidth"), QString::number(qRound(width() * twipsPerPixelX())));
        save(QStringLiteral("SourceFilter"), m_sourceFilter->text());
        save(QStringLiteral("CategoryFilter"), m_categoryFilter->text());
        save(QStringLiteral("DataFilter"), m_dataFilter->text());
    } catch (const std::exception& e) {
        m_g.setPendingError(e, 1);
        m_g.SendEventLog(kProgramName, QStringLiteral("Echo Form Unload"));
    }
    hide();
    if (m_g.bAppClosing) {
        event->accept();
    } else {
        event->ignore();
    }
}

void EchoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ScrollEchoWindows();
}
