#pragma once

#include <QString>

// Lower-casing of names on the hot path. xAP names are nearly always ASCII and often already in
// lower case: such text is returned as it is (no copy), plain ASCII is lowered by hand, and only
// other text takes the general Unicode conversion.
inline QString lowered(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    char16_t* q = reinterpret_cast<char16_t*>(out.data());
    const char16_t* p = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = p[i];
        if (c >= 0x80) {
            return text.toString().toLower();
        }
        q[i] = (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
    }
    return out;
}

inline QString lowered(const QString& text) {
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qsizetype first = -1;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c >= 0x80) {
            return text.toLower();
        }
        if (first < 0 && c >= u'A' && c <= u'Z') {
            first = i;
        }
    }
    if (first < 0) {
        return text;
    }
    QString out = text;
    char16_t* q = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = first; i < n; ++i) {
        if (q[i] >= u'A' && q[i] <= u'Z') {
            q[i] = char16_t(q[i] + (u'a' - u'A'));
        }
    }
    return out;
}

// Equality without regard to case; plain ASCII is compared by hand.
inline bool equalsIgnoringCase(QStringView a, QStringView b) {
    if (a.size() != b.size()) {
        return false;
    }
    const char16_t* p = a.utf16();
    const char16_t* q = b.utf16();
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = p[i];
        char16_t y = q[i];
        if (x == y) {
            continue;
        }
        if (x >= 0x80 || y >= 0x80) {
            return a.compare(b, Qt::CaseInsensitive) == 0;
        }
        if (x >= u'A' && x <= u'Z') {
            x = char16_t(x + (u'a' - u'A'));
        }
        if (y >= u'A' && y <= u'Z') {
            y = char16_t(y + (u'a' - u'A'));
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}
