#pragma once

#include <QList>
#include <QStringList>

#include "support/XapSender.h"

// Stands in for the xAP node: records what would have been sent, and fails on request.
class RecordingSender : public XapSender {
public:
    QString SendXap(const QString& sTarget, const QString& sClass, const QString& sSection,
                    const QString& sData) override {
        if (failNext > 0) {
            --failNext;
            return QStringLiteral("5 Send refused");
        }
        sent.append(QStringList{sTarget, sClass, sSection, sData});
        return QString();
    }
    QList<QStringList> sent;
    int failNext = 0;
};
