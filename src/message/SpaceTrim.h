#pragma once

#include <QString>
#include <QStringView>

// Trimming as the xAP and INI formats define it: blanks only; tabs and CR stay.
inline QStringView trimSpaces(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s[b] == u' ') {
        ++b;
    }
    while (e > b && s[e - 1] == u' ') {
        --e;
    }
    return s.sliced(b, e - b);
}
