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
#include "logger/Logger.h"
#include "support/DateText.h"
#include "support/ProgramNames.h"

namespace {
constexpr double kTwipsPerInch = 1440.0;
}  // namespace

EchoWindow::EchoWindow(Logger& logger, QWidget* parent)
    : QWidget(parent, Qt::Window), m_logger(logger) {
    setObjectName(QStringLiteral("echoWindow"));
    setWindowTitle(QStringLiteral("Quilljot Snapshot"));

    m_history = new QPushButton(QStringLiteral("History"), this);
    m_history->setObjectName(QStringLiteral("historyButton"));
    m_sourceFilter = new QLineEdit(this);
    m_sourceFilter->setObjectName(QStringLiteral("sourceFilter"));
    m_typeFilter = new QLineEdit(this);
    m_typeFilter->setObjectName(QStringLiteral("typeFilter"));
    m_dataFilter = new QLineEdit(this);
    m_dataFilter->setObjectName(QStringLiteral("dataFilter"));
    m_freeze = new QCheckBox(QStringLiteral("Freeze"), this);
    m_freeze->setObjectName(QStringLiteral("freezeBox"));
    m_lines = new QPlainTextEdit(this);
    m_lines->setObjectName(QStringLiteral("echoLines"));
    m_lines->setReadOnly(true);
    m_lines->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_lines->setFont(mono);
    // Sources are padded to 20 characters; a tab stop just past them lines the times up.
    m_lines->setTabStopDistance(QFontMetricsF(mono).horizontalAdvance(u' ') * 22);

    auto* row = new QHBoxLayout;
    row->addWidget(m_history);
    const std::pair<const char16_t*, QLineEdit*> filters[] = {
        {u"Source", m_sourceFilter}, {u"Type", m_typeFilter}, {u"Data", m_dataFilter}};
    for (const auto& [caption, box] : filters) {
        auto* label = new QLabel(QString::fromUtf16(caption), this);
        label->setBuddy(box);
        row->addWidget(label);
        row->addWidget(box, 1);
    }
    row->addWidget(m_freeze);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(m_lines, 1);

    connect(m_history, &QPushButton::clicked, this, &EchoWindow::toggleHistory);
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

void EchoWindow::restore() {
    const EchoWindowSettings& s = m_logger.settings().echoWindow;
    const int h = qRound(s.heightTwips / twipsPerPixelY());
    const int w = qRound(s.widthTwips / twipsPerPixelX());
    resize(std::max(w, minimumSizeHint().width()), std::max(h, minimumSizeHint().height()));
    m_typeFilter->setText(s.typeFilter);
    m_sourceFilter->setText(s.sourceFilter);
    m_dataFilter->setText(s.dataFilter);
    scrollToEnd();
}

void EchoWindow::addEvent(const LogEvent& event) {
    if (m_freeze->isChecked()) {
        return;
    }
    if (!EchoFormat::matches(m_typeFilter->text(), m_dataFilter->text(), event)) {
        return;
    }
    m_text = EchoFormat::append(m_text, EchoFormat::line(event));
    // A burst of events redraws the text box once, not once per event.
    if (!m_refresh.isActive()) {
        m_refresh.start();
    }
}

void EchoWindow::setEchoText(const QString& text) {
    m_text = text;
    refresh();
}

void EchoWindow::refresh() {
    m_refresh.stop();
    m_lines->setPlainText(m_text);
    scrollToEnd();
}

void EchoWindow::scrollToEnd() {
    if (m_freeze->isChecked()) {
        return;
    }
    QScrollBar* bar = m_lines->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void EchoWindow::toggleHistory() {
    if (m_showingHistory) {
        m_history->setText(QStringLiteral("History"));
        setEchoText(m_liveText);
    } else {
        m_history->setText(QStringLiteral("Current"));
        m_liveText = m_text;
        fillFromDatabase();
        refresh();
    }
    m_showingHistory = !m_showingHistory;
}

// A failed query is reported as step 3 of "FillWindowFromDatabase".
void EchoWindow::fillFromDatabase() {
    EventQuery query;
    query.from = DateText::isoText(m_logger.now().addDays(-7));
    query.source = m_sourceFilter->text();
    query.type = m_typeFilter->text();
    query.data = m_dataFilter->text();
    query.order = EventQuery::Order::OldestFirst;
    const Status read =
        m_logger.readEvents(query, [this](const StoredEvent& row) { addEvent(row.event); });
    if (!read) {
        m_logger.reporter().toNetwork(ProgramNames::kProgram,
                                      QStringLiteral("FillWindowFromDatabase "),
                                      read.problem().atStep(3));
    }
}

void EchoWindow::closeForGood() {
    m_closingForGood = true;
    close();
}

void EchoWindow::closeEvent(QCloseEvent* event) {
    (void)m_logger.saveEchoWindowSettings(
        EchoWindowSettings{qRound(height() * twipsPerPixelY()), qRound(width() * twipsPerPixelX()),
                           m_sourceFilter->text(), m_typeFilter->text(), m_dataFilter->text()});
    hide();
    if (m_closingForGood) {
        event->accept();
    } else {
        event->ignore();
    }
}

void EchoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scrollToEnd();
}
