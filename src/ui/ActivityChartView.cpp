#include "ui/ActivityChartView.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace {

constexpr int kTopRoom = 14;   // the scale's text
constexpr int kAxisRoom = 16;  // the times under the bars

const QColor kPartColours[] = {
    QColor(0x1f, 0x6f, 0xeb), QColor(0xd9, 0x77, 0x06), QColor(0x16, 0xa3, 0x4a),
    QColor(0x93, 0x33, 0xea), QColor(0xdc, 0x26, 0x26), QColor(0x08, 0x91, 0xb2),
    QColor(0x65, 0xa3, 0x0d), QColor(0xdb, 0x27, 0x77), QColor(0x4b, 0x55, 0x63)};

QString label(const QString& start, ActivityQuery::Bucket bucket) {
    return bucket == ActivityQuery::Bucket::Day || bucket == ActivityQuery::Bucket::Week
               ? start.left(10)
               : start.left(16);
}

}  // namespace

ActivityChartView::ActivityChartView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("activityChart"));
    setMouseTracking(true);
    setMinimumHeight(90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::CrossCursor);
}

void ActivityChartView::show(const ActivityChart& chart, ActivityQuery::Bucket bucket,
                             const QString& end) {
    m_chart = chart;
    m_bucket = bucket;
    m_end = end;
    m_top = 1;
    for (const ActivityBucket& b : m_chart.buckets) {
        m_top = std::max(m_top, b.count);
    }
    update();
}

void ActivityChartView::clear() {
    show({}, m_bucket, QString());
}

QRectF ActivityChartView::plotArea() const {
    return QRectF(0, kTopRoom, width(), height() - kTopRoom - kAxisRoom);
}

int ActivityChartView::indexAt(double x) const {
    const qsizetype n = m_chart.buckets.size();
    if (n == 0) {
        return -1;
    }
    return std::clamp(int(x / (double(width()) / double(n))), 0, int(n - 1));
}

QRectF ActivityChartView::barRect(int index) const {
    const qsizetype n = m_chart.buckets.size();
    if (index < 0 || index >= n || m_chart.buckets[index].count == 0) {
        return {};
    }
    const QRectF plot = plotArea();
    const double step = plot.width() / double(n);
    const double h =
        std::max(1.0, plot.height() * double(m_chart.buckets[index].count) / double(m_top));
    return QRectF(index * step, plot.bottom() - h, std::max(1.0, step - (step > 4 ? 1 : 0)), h);
}

QString ActivityChartView::endOf(int index) const {
    return index + 1 < m_chart.buckets.size() ? m_chart.buckets[index + 1].start : m_end;
}

QString ActivityChartView::describe(int index) const {
    const ActivityBucket& b = m_chart.buckets.at(index);
    QString text =
        label(b.start, m_bucket) + QStringLiteral(" – ") + label(endOf(index), m_bucket) +
        QStringLiteral(": ") +
        (b.count == 1 ? QStringLiteral("1 event") : QStringLiteral("%L1 events").arg(b.count));
    for (qsizetype p = 0; p < m_chart.parts.size() && p < b.parts.size(); ++p) {
        if (b.parts[p] > 0) {
            text += u'\n' + m_chart.parts[p] + QStringLiteral(": %L1").arg(b.parts[p]);
        }
    }
    return text;
}

void ActivityChartView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QRectF plot = plotArea();
    const qsizetype n = m_chart.buckets.size();
    if (n == 0) {
        return;
    }
    const double step = plot.width() / double(n);
    for (int i = 0; i < n; ++i) {
        const ActivityBucket& b = m_chart.buckets[i];
        if (b.count == 0) {
            p.fillRect(QRectF(i * step, plot.top(), step, plot.height()), QColor(0xec, 0xef, 0xf3));
            continue;
        }
        const QRectF bar = barRect(i);
        if (b.parts.isEmpty()) {
            p.fillRect(bar, kPartColours[0]);
            continue;
        }
        double bottom = bar.bottom();
        for (qsizetype part = 0; part < b.parts.size(); ++part) {
            const double h = bar.height() * double(b.parts[part]) / double(b.count);
            p.fillRect(QRectF(bar.left(), bottom - h, bar.width(), h),
                       kPartColours[part % std::size(kPartColours)]);
            bottom -= h;
        }
    }
    if (m_dragFrom) {
        const int first = std::min(*m_dragFrom, m_dragTo);
        const int last = std::max(*m_dragFrom, m_dragTo);
        p.fillRect(QRectF(first * step, plot.top(), (last - first + 1) * step, plot.height()),
                   QColor(31, 111, 235, 46));
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(QPointF(0, plot.bottom()), QPointF(width(), plot.bottom()));
    p.setPen(palette().color(QPalette::PlaceholderText));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    p.drawText(QRectF(2, 0, width() - 4, kTopRoom), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%L1 per ").arg(m_top) + ActivityBuckets::name(m_bucket));
    const QRectF axis(2, plot.bottom(), width() - 4, kAxisRoom);
    p.drawText(axis, Qt::AlignLeft | Qt::AlignVCenter,
               label(m_chart.buckets.first().start, m_bucket));
    p.drawText(axis, Qt::AlignRight | Qt::AlignVCenter,
               label(m_chart.buckets.last().start, m_bucket));
}

bool ActivityChartView::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        const int i = indexAt(help->pos().x());
        if (i >= 0) {
            QToolTip::showText(help->globalPos(), describe(i), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(e);
}

void ActivityChartView::mousePressEvent(QMouseEvent* e) {
    const int i = indexAt(e->position().x());
    if (e->button() != Qt::LeftButton || i < 0) {
        return;
    }
    m_dragFrom = i;
    m_dragTo = i;
    update();
}

void ActivityChartView::mouseMoveEvent(QMouseEvent* e) {
    const int i = indexAt(e->position().x());
    if (i < 0) {
        return;
    }
    // The interval under the pointer is said at once while dragging, as the tooltip would.
    if (m_dragFrom) {
        m_dragTo = i;
        QToolTip::showText(e->globalPosition().toPoint(), describe(i), this);
        update();
    }
}

void ActivityChartView::mouseReleaseEvent(QMouseEvent* e) {
    if (!m_dragFrom) {
        return;
    }
    const int i = indexAt(e->position().x());
    if (i >= 0) {
        m_dragTo = i;
    }
    const int first = std::min(*m_dragFrom, m_dragTo);
    const int last = std::max(*m_dragFrom, m_dragTo);
    m_dragFrom.reset();
    update();
    emit rangeChosen(m_chart.buckets[first].start, endOf(last));
}
