#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include "message/TextCodec.h"
#include "report/ReportSteps.h"

namespace {

constexpr qsizetype kMaxSectionLength = 100;
constexpr qsizetype kMaxKeyLength = 65;
// Joins section and key in the table: a line feed, which no name read from a line can hold.
constexpr QChar kJoin = u'\n';

QString valueKey(const QString& section, const QString& key) {
    return section.toUpper() + kJoin + key.toUpper();
}

// A carriage return too: one left at the end of a line, or before its last one, must not make a
// value that reads otherwise once the file is saved with its line ends.
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r';
}

// Blanks and tabs around names and values are layout, as editors and people leave them.
QString trimmed(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s[b])) {
        ++b;
    }
    while (e > b && isBlank(s[e - 1])) {
        --e;
    }
    return s.sliced(b, e - b).toString();
}

const QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

}  // namespace

Result<IniFile> IniFile::load(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && info.isSymLink()) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot read settings file ") + path +
                                                  QStringLiteral(": a link that leads to no file")};
    }
    // A pipe would block the program on open, and a folder or device is no settings file.
    if (info.exists() && !info.isFile()) {
        return Problem{ErrorKind::FileSystem,
                       QStringLiteral("Cannot read settings file ") + path +
                           QStringLiteral(": not a regular file (a folder, pipe, socket or device "
                                          "is in its place)")};
    }
    if (!info.exists()) {
        return fromText(QString(), path);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot read settings file ") + path +
                                                  u": " + file.errorString()};
    }
    return fromText(textFromBytes(file.readAll()), path);
}

IniFile IniFile::fromText(const QString& text, const QString& path) {
    IniFile ini;
    ini.m_path = path;
    // A file keeps its line ends when saved; a new one gets the platform's.
    if (text.contains(QStringLiteral("\r\n"))) {
        ini.m_lineEnd = QStringLiteral("\r\n");
    } else if (text.contains(u'\n')) {
        ini.m_lineEnd = QStringLiteral("\n");
    }
    QStringList lines = text.split(u'\n');
    if (lines.last().isEmpty()) {
        lines.removeLast();  // what follows the last line end is no line
    }
    QString folded;                      // the section of the lines read, upper-cased
    QString sectionName;                 // as written on its header
    QHash<QString, qsizetype> counting;  // the line of each key that counts so far
    for (QString& raw : lines) {
        if (raw.endsWith(u'\r')) {
            raw.chop(1);
        }
        Line line{raw, folded, QString(), 0, false, QString(), sectionName};
        const QString content = trimmed(raw);
        if (content.isEmpty() || content.startsWith(u';') || content.startsWith(u'#')) {
            ini.m_lines.append(line);
            continue;
        }
        if (content.startsWith(u'[') && content.endsWith(u']') && content.size() >= 2) {
            const QString name = trimmed(QStringView(content).sliced(1, content.size() - 2));
            folded = name.toUpper();
            sectionName = name;
            ini.m_sections.add(folded, name);
            line.section = folded;
            line.sectionName = name;
            line.header = true;
            ini.m_lines.append(line);
            continue;
        }
        const qsizetype eq = raw.indexOf(u'=');
        if (eq < 0) {
            QString quoted = content;
            if (quoted.size() > kMaxQuotedLine) {
                quoted = quoted.left(kMaxQuotedLine) + QStringLiteral("...");
            }
            ini.m_malformed.append(quoted);
            ini.m_lines.append(line);
            continue;
        }
        const QString key = trimmed(QStringView(raw).left(eq));
        const QString mapKey = folded + kJoin + key.toUpper();
        qsizetype valueAt = eq + 1;
        while (valueAt < raw.size() && isBlank(raw[valueAt])) {
            ++valueAt;
        }
        const QString value = trimmed(QStringView(raw).sliced(eq + 1));
        line.entry = mapKey;
        line.valueAt = valueAt;
        if (Value* known = ini.m_values.find(mapKey)) {
            Line& earlier = ini.m_lines[counting.value(mapKey)];
            earlier.entry.clear();
            earlier.overruledBy = mapKey;
            ini.m_repeats.append(Repeat{key, earlier.sectionName, sectionName,
                                        int(counting.value(mapKey) + 1),
                                        int(ini.m_lines.size() + 1)});
            known->value = value;
        } else {
            const QString* firstName = ini.m_sections.find(folded);
            ini.m_values.add(mapKey, Value{firstName ? *firstName : QString(), key, value});
        }
        counting.insert(mapKey, ini.m_lines.size());
        ini.m_lines.append(line);
    }
    return ini;
}

QString IniFile::read(const QString& section, const QString& key, const QString& fallback) const {
    const Value* v = m_values.find(valueKey(section, key));
    if (v == nullptr || v->value.isEmpty()) {
        return fallback;
    }
    return v->value;
}

void IniFile::write(const QString& section, const QString& key, const QString& value) {
    m_sections.add(section.toUpper(), section);
    if (Value* v = m_values.find(valueKey(section, key))) {
        v->value = value;
    } else {
        m_values.add(valueKey(section, key),
                     Value{*m_sections.find(section.toUpper()), key, value});
    }
}

void IniFile::remove(const QString& section, const QString& key) {
    m_values.remove(valueKey(section, key));
}

QStringList IniFile::sections() const {
    QStringList names;
    m_sections.forEach([&](const QString&, const QString& name) { names.append(name); });
    return names;
}

QStringList IniFile::keys(const QString& section) const {
    const QString prefix = section.toUpper() + kJoin;
    QStringList names;
    m_values.forEach([&](const QString& mapKey, const Value& v) {
        if (mapKey.startsWith(prefix) && !v.key.isEmpty()) {
            names.append(v.key);
        }
    });
    return names;
}

QString IniFile::text() const {
    // Where each section's keys that have no line yet go: after its last header or entry line.
    QHash<QString, qsizetype> lastLine;
    QSet<QString> onLines;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (line.header || !line.entry.isEmpty()) {
            lastLine.insert(line.section, i);
        }
        if (!line.entry.isEmpty()) {
            onLines.insert(line.entry);
        }
    }
    QStringList out;
    auto addNewKeys = [&](const QString& folded) {
        const QString prefix = folded + kJoin;
        m_values.forEach([&](const QString& mapKey, const Value& v) {
            if (mapKey.startsWith(prefix) && !onLines.contains(mapKey)) {
                out.append(v.key + u'=' + v.value);
            }
        });
    };
    if (!lastLine.contains(QString())) {
        addNewKeys(QString());
    }
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const Line& line = m_lines[i];
        if (!line.overruledBy.isEmpty()) {
            // A key removed goes with every line of its name.
            if (m_values.contains(line.overruledBy)) {
                out.append(line.text);
            }
        } else if (line.entry.isEmpty()) {
            out.append(line.text);
        } else if (const Value* v = m_values.find(line.entry)) {
            const bool same = v->value == trimmed(QStringView(line.text).sliced(line.valueAt));
            out.append(same ? line.text : line.text.left(line.valueAt) + v->value);
        }
        if (lastLine.value(line.section, -1) == i) {
            addNewKeys(line.section);
        }
    }
    m_sections.forEach([&](const QString& folded, const QString& name) {
        if (lastLine.contains(folded)) {
            return;
        }
        const qsizetype before = out.size();
        addNewKeys(folded);
        if (out.size() == before) {
            return;  // a section without keys is not written
        }
        QStringList header;
        if (before > 0 && !out[before - 1].isEmpty()) {
            header.append(QString());
        }
        header.append(u'[' + name + u']');
        for (qsizetype k = 0; k < header.size(); ++k) {
            out.insert(before + k, header[k]);
        }
    });
    return out.isEmpty() ? QString() : out.join(m_lineEnd) + m_lineEnd;
}

QList<Problem> IniFile::repeatProblems() const {
    QList<Problem> out;
    const QString file = m_path.isEmpty() ? QStringLiteral("the settings") : m_path;
    for (const Repeat& r : m_repeats) {
        const QString earlier = QStringLiteral("line ") + QString::number(r.earlierLine);
        const QString later = QStringLiteral("line ") + QString::number(r.laterLine);
        const QString where =
            r.earlierSection == r.laterSection
                ? QString(QStringLiteral(" of section [") + r.laterSection +
                          QStringLiteral("] is given twice in ") + file + QStringLiteral(", on ") +
                          earlier + QStringLiteral(" and on ") + later)
                : QStringLiteral(" is given twice in ") + file + QStringLiteral(", on ") + earlier +
                      QStringLiteral(" under [") + r.earlierSection + QStringLiteral("] and on ") +
                      later + QStringLiteral(" under [") + r.laterSection +
                      QStringLiteral("] (one section in any letter case)");
        out.append(Problem{ErrorKind::Settings, QStringLiteral("The setting ") + r.key + where +
                                                    QStringLiteral(": the one on ") + later +
                                                    QStringLiteral(" counts; remove the other")});
    }
    return out;
}

Status IniFile::save(Access access) const {
    Status names;
    m_values.forEach([&](const QString&, const Value& v) {
        if (names && (v.section.size() > kMaxSectionLength || v.key.size() > kMaxKeyLength)) {
            names = Problem{
                ErrorKind::Settings,
                QStringLiteral("Name too long for the settings file: ") + v.section + u'~' + v.key,
                ReportStep::IniSave::Names};
        }
    });
    if (!names) {
        return names;
    }
    const QByteArray bytes = bytesFromText(text());

    if (QFileInfo::exists(m_path)) {
        QFile current(m_path);
        if (current.open(QIODevice::ReadOnly) && current.readAll() == bytes) {
            // The backup keeps the file as it was before the last change.
            if (access == Access::OwnerOnly) {
                QFile::setPermissions(m_path, kOwnerOnly);
            }
            return {};
        }
        const QString backup = m_path + QStringLiteral("_bck");
        if (QFileInfo::exists(backup) && !QFile::remove(backup)) {
            return Problem{ErrorKind::FileSystem, QStringLiteral("Cannot replace backup ") + backup,
                           ReportStep::IniSave::Backup};
        }
        if (!QFile::copy(m_path, backup)) {
            return Problem{
                ErrorKind::FileSystem,
                QStringLiteral("Cannot copy ") + m_path + QStringLiteral(" to ") + backup,
                ReportStep::IniSave::Backup};
        }
        if (access == Access::OwnerOnly) {
            QFile::setPermissions(backup, kOwnerOnly);
        }
    }

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Written beside the old file and renamed over it, so a crash never leaves half a file.
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly)) {
        return Problem{ErrorKind::FileSystem, out.errorString(), ReportStep::IniSave::Write};
    }
    // Before anything is written, so the text is never readable by others.
    if (access == Access::OwnerOnly && !out.setPermissions(kOwnerOnly)) {
        return Problem{ErrorKind::FileSystem, out.errorString(), ReportStep::IniSave::Write};
    }
    out.write(bytes);
    if (!out.commit()) {
        return Problem{ErrorKind::FileSystem, out.errorString(), ReportStep::IniSave::Replace};
    }
    return {};
}
