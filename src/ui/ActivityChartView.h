#pragma once

#include <QWidget>
#include <optional>

#include "store/ActivityQuery.h"

// The activity chart above the history table: one bar per interval of the range, drawn with
// QPainter, empty intervals shaded as gaps. Hovering a bar shows its interval and count; a click
// on a bar, or a drag over several, chooses their range.
class ActivityChartView : public QWidget {
    Q_OBJECT

public:
    explicit ActivityChartView(QWidget* parent = nullptr);

    // Shows `chart`, whose buckets are `bucket`s ending at `end`.
    void show(const ActivityChart& chart, ActivityQuery::Bucket bucket, const QString& end);
    void clear();
    const ActivityChart& chart() const { return m_chart; }
    // The bar of bucket `index` as drawn (empty for an empty bucket); for tests and the pointer.
    QRectF barRect(int index) const;
    // What hovering bucket `index` says.
    QString describe(int index) const;

    QSize sizeHint() const override { return {600, 110}; }

signals:
    // A range chosen on the chart, in stored form: `from` taken, `to` no longer.
    void rangeChosen(const QString& from, const QString& to);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    int indexAt(double x) const;
    QRectF plotArea() const;
    QString endOf(int index) const;

    ActivityChart m_chart;
    ActivityQuery::Bucket m_bucket = ActivityQuery::Bucket::Hour;
    QString m_end;
    qint64 m_top = 1;
    std::optional<int> m_dragFrom;
    int m_dragTo = 0;
};
