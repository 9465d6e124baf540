#pragma once

#include <QString>
#include <QStringList>

#include "report/Result.h"
#include "support/OrderedMap.h"

// One INI settings file in memory: sections of NAME=VALUE lines. Reads answer with a default
// when the key is missing or empty. Saving writes the file sorted, with names upper-cased, after
// copying the previous file to "<path>_bck"; the new file replaces the old one atomically.
class IniFile {
public:
    // A file that does not exist loads as empty. A link to nowhere, a folder, pipe or device in
    // the file's place, or a file that cannot be read, is a Problem.
    static Result<IniFile> load(const QString& path);
    // The settings of a text; lines that are neither a [section] nor NAME=VALUE nor a comment are
    // kept in malformedLines() (quoted whole up to kMaxQuotedLine characters).
    static IniFile fromText(const QString& text, const QString& path = QString());

    QString read(const QString& section, const QString& key, const QString& fallback) const;
    void write(const QString& section, const QString& key, const QString& value);
    void remove(const QString& section, const QString& key);
    QStringList sections() const;
    QStringList keys(const QString& section) const;

    // Steps: 1 collecting the lines, 2 the backup copy, 3 writing the new file, 4 replacing the
    // old one.
    Status save() const;

    const QString& path() const { return m_path; }
    const QStringList& malformedLines() const { return m_malformed; }

    // The longest malformed line quoted whole; longer ones are cut with "...".
    static constexpr qsizetype kMaxQuotedLine = 1000;

private:
    // Section entries map the upper-cased section name to the name as first written; value
    // entries map SECTION and KEY (both upper-cased, joined by a line feed) to the value.
    OrderedMap<QString> m_table{CaseRule::Sensitive};
    QString m_path;
    QStringList m_malformed;
};
