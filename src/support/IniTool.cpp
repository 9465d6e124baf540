#include "support/IniTool.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>

#include "message/SpaceTrim.h"
#include "message/TextCodec.h"
#include "support/Failure.h"
#include "support/XapGlobal.h"

namespace {

constexpr qsizetype kMaxHeaderLength = 100;
constexpr qsizetype kMaxKeyLength = 65;

QString valueKey(const QString& header, const QString& key) {
    return header.toUpper() + u'~' + key.toUpper();
}

}  // namespace

void IniTool::Load(const QString& fPath) {
    m_table.clear();
    m_loadedPath = fPath;
    const QFileInfo info(fPath);
    if (!info.exists() && info.isSymLink()) {
        throw Failure(ErrorNumber::FileSystem,
                      QStringLiteral("Cannot read settings file ") + fPath +
                          QStringLiteral(": a link that leads to no file"));
    }
    // A pipe would block the program on open, and a folder or device is no settings file.
    if (info.exists() && !info.isFile()) {
        throw Failure(ErrorNumber::FileSystem,
                      QStringLiteral("Cannot read settings file ") + fPath +
                          QStringLiteral(": not a regular file (a folder, pipe, socket or device "
                                         "is in its place)"));
    }
    if (!info.exists()) {
        m_global.CreateFolders(fPath);
        QFile created(fPath);
        if (!created.open(QIODevice::WriteOnly)) {
            throw Failure(ErrorNumber::FileSystem, QStringLiteral("Cannot create settings file ") +
                                                       fPath + u": " + created.errorString());
        }
        return;
    }
    QFile file(fPath);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Failure(ErrorNumber::FileSystem, QStringLiteral("Cannot read settings file ") +
                                                   fPath + u": " + file.errorString());
    }
    LoadText(textFromBytes(file.readAll()));
}

void IniTool::LoadText(const QString& text) {
    m_table.clear();
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
            m_table.add(header.toUpper(), header);
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) {
            QString quoted = line;
            if (quoted.size() > kMaxQuotedLine) {
                quoted = quoted.left(kMaxQuotedLine) + QStringLiteral("...");
            }
            m_global.SendEventLog(QStringLiteral("IniTool"),
                                  QStringLiteral(" Equal sign not found on line ") + quoted);
            continue;
        }
        m_table.add(valueKey(header, line.left(eq)), line.mid(eq + 1));
    }
}

QString IniTool::Read(const QString& Header, const QString& Key,
                      const QString& defaultvalue) const {
    const QString* v = m_table.find(valueKey(Header, Key));
    if (v == nullptr || v->isEmpty()) {
        return defaultvalue;
    }
    return *v;
}

void IniTool::WriteKey(const QString& Header, const QString& Key, const QString& newValue) {
    if (!m_table.contains(Header.toUpper())) {
        m_table.add(Header.toUpper(), Header);
    }
    m_table.set(valueKey(Header, Key), newValue);
}

void IniTool::Remove(const QString& Header, const QString& Key) {
    m_table.remove(valueKey(Header, Key));
}

QStringList IniTool::Headers() const {
    QStringList names;
    m_table.forEach([&](const QString& key, const QString& value) {
        if (value.toUpper() == key.toUpper()) {
            names.append(value);
        }
    });
    return names;
}

QStringList IniTool::Keys(const QString& Header) const {
    const QRegularExpression pattern(QStringLiteral("^") + Header + QStringLiteral("\\~"),
                                     QRegularExpression::CaseInsensitiveOption);
    if (!pattern.isValid()) {
        throw Failure(ErrorNumber::Settings, QStringLiteral("Bad header pattern ") + Header +
                                                 u": " + pattern.errorString());
    }
    QStringList names;
    m_table.forEach([&](const QString& key, const QString&) {
        if (pattern.match(key).hasMatch()) {
            const QString name = key.mid(key.indexOf(u'~') + 1);
            if (!trimSpaces(name).isEmpty()) {
                names.append(name);
            }
        }
    });
    if (names.isEmpty()) {
        return {QString()};
    }
    return names;
}

// Steps: 1 collecting the rows, 2 the backup copy, 3 writing the new file, 4 replacing the old.
void IniTool::Save() {
    int step = 1;
    try {
        struct Row {
            QString header;
            QString key;
            QString value;
        };
        QList<Row> rows;
        m_table.forEach([&](const QString& mapKey, const QString& value) {
            const qsizetype tilde = mapKey.indexOf(u'~');
            if (tilde < 0) {
                return;
            }
            rows.append(Row{mapKey.left(tilde), mapKey.mid(tilde + 1), value});
        });
        for (const Row& r : rows) {
            if (r.header.size() > kMaxHeaderLength || r.key.size() > kMaxKeyLength) {
                throw Failure(ErrorNumber::Settings,
                              QStringLiteral("Name too long for the settings file: ") + r.header +
                                  u'~' + r.key);
            }
        }
        std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            const int h = QString::compare(a.header, b.header, Qt::CaseSensitive);
            return h != 0 ? h < 0 : QString::compare(a.key, b.key, Qt::CaseSensitive) < 0;
        });

        step = 2;
        if (QFileInfo::exists(m_loadedPath)) {
            const QString backup = m_loadedPath + QStringLiteral("_bck");
            if (QFileInfo::exists(backup) && !QFile::remove(backup)) {
                throw Failure(ErrorNumber::FileSystem,
                              QStringLiteral("Cannot replace backup ") + backup);
            }
            if (!QFile::copy(m_loadedPath, backup)) {
                throw Failure(ErrorNumber::FileSystem, QStringLiteral("Cannot copy ") +
                                                           m_loadedPath + QStringLiteral(" to ") +
                                                           backup);
            }
        }

        step = 3;
        QString text;
        QString current;
        for (const Row& r : rows) {
            if (r.header != current) {
                current = r.header;
                text += u'[' + r.header + QStringLiteral("]\r\n");
            }
            text += r.key + u'=' + r.value + QStringLiteral("\r\n");
        }
        // Written beside the old file and renamed over it, so a crash never leaves half a file.
        QSaveFile out(m_loadedPath);
        if (!out.open(QIODevice::WriteOnly)) {
            throw Failure(ErrorNumber::FileSystem, out.errorString());
        }
        out.write(bytesFromText(text));
        step = 4;
        if (!out.commit()) {
            throw Failure(ErrorNumber::FileSystem, out.errorString());
        }
    } catch (const std::exception& e) {
        m_global.setPendingError(e, step);
        if (m_global.hasHs()) {
            m_global.SendEventLog(QStringLiteral("xapzelQuilljot"),
                                  QStringLiteral("IniTool Save ") + m_loadedPath);
        } else {
            m_global.clearPendingError();
        }
    }
}
