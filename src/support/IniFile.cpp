#include "support/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "message/SpaceTrim.h"
#include "message/TextCodec.h"

namespace {

constexpr qsizetype kMaxSectionLength = 100;
constexpr qsizetype kMaxKeyLength = 65;
// Joins section and key in the table: a line feed, which no name read from a line can hold.
constexpr QChar kJoin = u'\n';

QString valueKey(const QString& section, const QString& key) {
    return section.toUpper() + kJoin + key.toUpper();
}

}  // namespace

Result<IniFile> IniFile::load(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && info.isSymLink()) {
        return Problem{ErrorNumber::FileSystem,
                       QStringLiteral("Cannot read settings file ") + path +
                           QStringLiteral(": a link that leads to no file")};
    }
    // A pipe would block the program on open, and a folder or device is no settings file.
    if (info.exists() && !info.isFile()) {
        return Problem{ErrorNumber::FileSystem,
                       QStringLiteral("Cannot read settings file ") + path +
                           QStringLiteral(": not a regular file (a folder, pipe, socket or device "
                                          "is in its place)")};
    }
    if (!info.exists()) {
        return fromText(QString(), path);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Problem{ErrorNumber::FileSystem, QStringLiteral("Cannot read settings file ") +
                                                    path + u": " + file.errorString()};
    }
    return fromText(textFromBytes(file.readAll()), path);
}

IniFile IniFile::fromText(const QString& text, const QString& path) {
    IniFile ini;
    ini.m_path = path;
    QString header;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
        line = trimSpaces(line).toString();
        if (line.isEmpty() || line.startsWith(u';')) {
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']') && line.size() >= 2) {
            header = line.mid(1, line.size() - 2);
            ini.m_table.add(header.toUpper(), header);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) {
            QString quoted = line;
            if (quoted.size() > kMaxQuotedLine) {
                quoted = quoted.left(kMaxQuotedLine) + QStringLiteral("...");
            }
            ini.m_malformed.append(quoted);
            continue;
        }
        ini.m_table.add(valueKey(header, line.left(eq)), line.mid(eq + 1));
    }
    return ini;
}

QString IniFile::read(const QString& section, const QString& key, const QString& fallback) const {
    const QString* v = m_table.find(valueKey(section, key));
    if (v == nullptr || v->isEmpty()) {
        return fallback;
    }
    return *v;
}

void IniFile::write(const QString& section, const QString& key, const QString& value) {
    if (!m_table.contains(section.toUpper())) {
        m_table.add(section.toUpper(), section);
    }
    m_table.set(valueKey(section, key), value);
}

void IniFile::remove(const QString& section, const QString& key) {
    m_table.remove(valueKey(section, key));
}

QStringList IniFile::sections() const {
    QStringList names;
    m_table.forEach([&](const QString& key, const QString& value) {
        if (!key.contains(kJoin) && value.toUpper() == key) {
            names.append(value);
        }
    });
    return names;
}

QStringList IniFile::keys(const QString& section) const {
    const QString prefix = section.toUpper() + kJoin;
    QStringList names;
    m_table.forEach([&](const QString& key, const QString&) {
        if (key.startsWith(prefix)) {
            const QString name = key.mid(prefix.size());
            if (!trimSpaces(name).isEmpty()) {
                names.append(name);
            }
        }
    });
    return names;
}

Status IniFile::save() const {
    struct Row {
        QString section;
        QString key;
        QString value;
    };
    QList<Row> rows;
    m_table.forEach([&](const QString& mapKey, const QString& value) {
        const qsizetype tilde = mapKey.indexOf(kJoin);
        if (tilde >= 0) {
            rows.append(Row{mapKey.left(tilde), mapKey.mid(tilde + 1), value});
        }
    });
    for (const Row& r : rows) {
        if (r.section.size() > kMaxSectionLength || r.key.size() > kMaxKeyLength) {
            return Problem{
                ErrorNumber::Settings,
                QStringLiteral("Name too long for the settings file: ") + r.section + u'~' + r.key,
                1};
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        const int h = QString::compare(a.section, b.section, Qt::CaseSensitive);
        return h != 0 ? h < 0 : QString::compare(a.key, b.key, Qt::CaseSensitive) < 0;
    });

    if (QFileInfo::exists(m_path)) {
        const QString backup = m_path + QStringLiteral("_bck");
        if (QFileInfo::exists(backup) && !QFile::remove(backup)) {
            return Problem{ErrorNumber::FileSystem,
                           QStringLiteral("Cannot replace backup ") + backup, 2};
        }
        if (!QFile::copy(m_path, backup)) {
            return Problem{
                ErrorNumber::FileSystem,
                QStringLiteral("Cannot copy ") + m_path + QStringLiteral(" to ") + backup, 2};
        }
    }

    QString text;
    QString current;
    for (const Row& r : rows) {
        if (r.section != current) {
            current = r.section;
            text += u'[' + r.section + QStringLiteral("]\r\n");
        }
        text += r.key + u'=' + r.value + QStringLiteral("\r\n");
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Written beside the old file and renamed over it, so a crash never leaves half a file.
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        return Problem{ErrorNumber::FileSystem, out.errorString(), 3};
    }
    out.write(bytesFromText(text));
    if (!out.commit()) {
        return Problem{ErrorNumber::FileSystem, out.errorString(), 4};
    }
    return {};
}
