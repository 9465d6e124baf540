#pragma once

#include <QString>
#include <QStringView>

// The blanks of the structural parts of an xAP text (braces, block names, header values, item
// names): spaces and tabs, as other xAP readers take them there. Item values keep theirs.
inline bool isLayoutBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

inline QStringView trimLayout(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isLayoutBlank(s[b])) {
        ++b;
    }
    while (e > b && isLayoutBlank(s[e - 1])) {
        --e;
    }
    return s.sliced(b, e - b);
}
