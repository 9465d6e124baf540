#include "ui/EchoWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "logger/LoggerControl.h"
#include "ui/HistoryView.h"
#include "ui/LiveEventModel.h"

namespace {
constexpr double kTwipsPerInch = 1440.0;
}  // namespace

EchoWindow::EchoWindow(LoggerControl& logger, QWidget* parent)
    : QWidget(parent, Qt::Window), m_logger(logger) {
    setObjectName(QStringLiteral("echoWindow"));
    setWindowTitle(QStringLiteral("Quilljot Snapshot"));
    m_history = new HistoryView(m_logger.now().date(), this);
    m_views = new QTabWidget(this);
    m_views->setObjectName(QStringLiteral("echoViews"));
    m_views->setDocumentMode(true);
    m_views->addTab(makeLivePage(), QStringLiteral("Live"));
    m_views->addTab(m_history, QStringLiteral("History"));
    m_views->setTabToolTip(0, QStringLiteral("Events as they are logged"));
    m_views->setTabToolTip(1, QStringLiteral("Events stored in the database"));

    auto* column = new QVBoxLayout(this);
    column->addLayout(makeFilterRow());
    column->addWidget(m_views, 1);

    followTheLiveLines();
    readTheHistoryWhenShown();
    m_history->setDatabase(m_logger.settings().database);
    showLiveTally();
}

QHBoxLayout* EchoWindow::makeFilterRow() {
    m_sourceFilter = new QLineEdit(this);
    m_sourceFilter->setObjectName(QStringLiteral("sourceFilter"));
    m_typeFilter = new QLineEdit(this);
    m_typeFilter->setObjectName(QStringLiteral("typeFilter"));
    m_dataFilter = new QLineEdit(this);
    m_dataFilter->setObjectName(QStringLiteral("dataFilter"));
    const QString how = QStringLiteral(
        "Shows the events whose %1 contains this text, in any letter case; empty shows all.\n"
        "Live lines follow at once; in History, % stands for any text and _ for any one "
        "character.");
    m_sourceFilter->setToolTip(how.arg(QStringLiteral("source")));
    m_typeFilter->setToolTip(how.arg(QStringLiteral("type")));
    m_dataFilter->setToolTip(how.arg(QStringLiteral("data")));

    auto* filterRow = new QHBoxLayout;
    const std::pair<const char16_t*, QLineEdit*> filters[] = {
        {u"Source", m_sourceFilter}, {u"Type", m_typeFilter}, {u"Data", m_dataFilter}};
    for (const auto& [caption, box] : filters) {
        box->setClearButtonEnabled(true);
        auto* label = new QLabel(QString::fromUtf16(caption), this);
        label->setBuddy(box);
        filterRow->addWidget(label);
        filterRow->addWidget(box, 1);
        connect(box, &QLineEdit::textChanged, this, &EchoWindow::applyFilters);
    }
    return filterRow;
}

QWidget* EchoWindow::makeLivePage() {
    auto* livePage = new QWidget(this);
    m_live = new LiveEventModel(this);
    m_lines = new QListView(livePage);
    m_lines->setObjectName(QStringLiteral("liveLines"));
    m_lines->setModel(m_live);
    m_lines->setUniformItemSizes(true);
    m_lines->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lines->setTextElideMode(Qt::ElideRight);
    m_lines->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_freeze = new QCheckBox(QStringLiteral("Freeze"), livePage);
    m_freeze->setObjectName(QStringLiteral("freezeBox"));
    m_freeze->setToolTip(
        QStringLiteral("Holds new events back (up to %L1) and shows them when released")
            .arg(LiveEventModel::kHeldEvents));
    auto* clear = new QPushButton(QStringLiteral("Clear"), livePage);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setToolTip(QStringLiteral("Empties the view; the database keeps every event"));
    m_liveTally = new QLabel(livePage);
    m_liveTally->setObjectName(QStringLiteral("liveTally"));
    auto* liveRow = new QHBoxLayout;
    liveRow->addWidget(m_freeze);
    liveRow->addWidget(clear);
    liveRow->addWidget(m_liveTally, 1);
    auto* liveColumn = new QVBoxLayout(livePage);
    liveColumn->setContentsMargins(0, 0, 0, 0);
    liveColumn->addLayout(liveRow);
    liveColumn->addWidget(m_lines, 1);

    connect(m_freeze, &QCheckBox::toggled, this, [this](bool on) {
        m_live->setFrozen(on);
        followNewest();
    });
    connect(clear, &QPushButton::clicked, m_live, &LiveEventModel::clear);
    connect(m_live, &LiveEventModel::tallyChanged, this, &EchoWindow::showLiveTally);
    return livePage;
}

void EchoWindow::followTheLiveLines() {
    // New lines scroll the view only when it showed the newest line: a user reading older
    // lines keeps their place.
    connect(m_live, &LiveEventModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = m_lines->verticalScrollBar();
        m_atNewest = bar->value() >= bar->maximum();
    });
    connect(m_live, &LiveEventModel::rowsInserted, this, [this] {
        if (m_atNewest) {
            followNewest();
        }
    });
}

void EchoWindow::readTheHistoryWhenShown() {
    connect(m_views, &QTabWidget::currentChanged, this, [this] {
        // A window open for days keeps showing the last seven of them.
        if (showingHistory() && m_history->followToday(m_logger.now().date())) {
            m_historyStale = true;
        }
        if (showingHistory() && m_historyStale) {
            m_historyStale = false;
            m_history->run();
        }
    });
    connect(&m_logger, &LoggerControl::settingsReloaded, this,
            [this](const LoggerSettings& settings) {
                m_history->setDatabase(settings.database);
                m_historyStale = true;
            });
    m_filterPause.setSingleShot(true);
    m_filterPause.setInterval(400);
    connect(&m_filterPause, &QTimer::timeout, this, [this] {
        if (showingHistory()) {
            m_historyStale = false;
            m_history->run();
        }
    });
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
    m_history->setDatabase(m_logger.settings().database);
}

void EchoWindow::addEvents(const QList<LogEvent>& events) {
    for (const LogEvent& event : events) {
        m_live->add(event);
    }
}

void EchoWindow::applyFilters() {
    m_live->setFilters({m_sourceFilter->text(), m_typeFilter->text(), m_dataFilter->text()});
    m_history->setFilters(m_sourceFilter->text(), m_typeFilter->text(), m_dataFilter->text());
    m_historyStale = true;
    m_filterPause.start();
    followNewest();
}

void EchoWindow::followNewest() {
    if (!m_freeze->isChecked()) {
        m_lines->scrollToBottom();
    }
}

void EchoWindow::showLiveTally() {
    QStringList parts;
    if (m_live->frozen()) {
        parts.append(QStringLiteral("%L1 new events held").arg(m_live->held()));
    }
    if (m_live->droppedFromView() > 0) {
        parts.append(QStringLiteral("%L1 older lines left the view (the database keeps them)")
                         .arg(m_live->droppedFromView()));
    }
    m_liveTally->setText(parts.join(QStringLiteral("; ")));
}

void EchoWindow::showHistory() {
    m_views->setCurrentIndex(1);
}

void EchoWindow::showLive() {
    m_views->setCurrentIndex(0);
}

bool EchoWindow::showingHistory() const {
    return m_views->currentIndex() == 1;
}

QStringList EchoWindow::liveLines() const {
    return m_live->lines();
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
