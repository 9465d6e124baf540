#pragma once

#include <QString>

// What the deferred sending needs of the xAP node: send one message of one section. The result
// is empty on success and an error text otherwise.
class XapSender {
public:
    virtual ~XapSender() = default;
    virtual QString SendXap(const QString& sTarget, const QString& sClass, const QString& sSection,
                            const QString& sData) = 0;
};
