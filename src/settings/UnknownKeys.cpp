#include "settings/UnknownKeys.h"

#include <QVarLengthArray>
#include <algorithm>

#include "settings/IniFile.h"
#include "settings/SettingKeys.h"

namespace {

// Include1, Exclude12, ...: the table names the key without its number.
bool isNumberedRule(const SettingKey& known, QStringView key) {
    if (known.value != SettingValue::Rule || key.size() <= known.name.size() ||
        !key.startsWith(known.name, Qt::CaseInsensitive)) {
        return false;
    }
    const QStringView number = key.sliced(known.name.size());
    return std::all_of(number.begin(), number.end(), [](QChar c) { return c.isDigit(); });
}

bool isKnown(QStringView section, QStringView key) {
    const auto keys = SettingKeys::all();
    return std::any_of(keys.begin(), keys.end(), [&](const SettingKey& k) {
        return k.section.compare(section, Qt::CaseInsensitive) == 0 &&
               ((k.value != SettingValue::Rule && k.name.compare(key, Qt::CaseInsensitive) == 0) ||
                isNumberedRule(k, key));
    });
}

bool isKnownSection(QStringView section) {
    const auto keys = SettingKeys::all();
    return std::any_of(keys.begin(), keys.end(), [&](const SettingKey& k) {
        return k.section.compare(section, Qt::CaseInsensitive) == 0;
    });
}

QString describe(const QString& section, const QString& key) {
    const QString where = QStringLiteral("The setting ") + key + QStringLiteral(" in section [") +
                          section + QStringLiteral("] is not one the logger knows");
    const SettingKey* nearest = nullptr;
    int best = 0;
    for (const SettingKey& k : SettingKeys::all()) {
        if (k.name.compare(key, Qt::CaseInsensitive) == 0 || isNumberedRule(k, key)) {
            return where + QStringLiteral(": ") + key + QStringLiteral(" belongs in section [") +
                   k.section.toString() + u']';
        }
        const int d = UnknownKeys::editDistance(k.name, key);
        if (nearest == nullptr || d < best) {
            nearest = &k;
            best = d;
        }
    }
    return where + QStringLiteral("; the nearest known setting is ") + nearest->name.toString() +
           QStringLiteral(" (in [") + nearest->section.toString() + QStringLiteral("])");
}

}  // namespace

namespace UnknownKeys {

int editDistance(QStringView a, QStringView b) {
    QVarLengthArray<int, 64> row(b.size() + 1);
    for (qsizetype j = 0; j <= b.size(); ++j) {
        row[j] = int(j);
    }
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            const bool same = a[i - 1].toCaseFolded() == b[j - 1].toCaseFolded();
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

QList<Problem> find(const IniFile& ini) {
    QList<Problem> out;
    for (const QString& section : ini.sections()) {
        if (!isKnownSection(section)) {
            continue;
        }
        for (const QString& key : ini.keys(section)) {
            if (!isKnown(section, key)) {
                out.append(Problem{ErrorKind::Settings, describe(section, key)});
            }
        }
    }
    return out;
}

}  // namespace UnknownKeys
