#pragma once

#include <QString>
#include <QStringList>

#include "report/Result.h"
#include "support/OrderedMap.h"

// One INI settings file in memory: sections of NAME=VALUE lines, as people write them (blanks
// around names, values and "=" do not count; lines starting with ";" or "#" are comments). Section
// and key names are read without regard to letter case, and a key given twice in a section counts
// the last time (a block pasted below the written defaults takes effect); repeats() names each
// such pair of lines. Reads answer with a default when the key is missing or empty. Saving keeps
// the file as it was read,
// comments, order, unknown and malformed lines included: only changed values are rewritten (on
// the line that counts), removed keys are left out, and new keys go at the end of their section.
// The previous file is copied to "<path>_bck" first, and the new one replaces it atomically; a save
// that would change nothing leaves both alone.
class IniFile {
public:
    // Who may read the saved file and its backup: OwnerOnly for files that can hold a password.
    enum class Access { Default, OwnerOnly };

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
    // The keys of a section, named as first read or written.
    QStringList keys(const QString& section) const;

    // Steps: 1 collecting the lines, 2 the backup copy, 3 writing the new file, 4 replacing the
    // old one.
    Status save(Access access = Access::Default) const;
    // The file's text as save() would write it.
    QString text() const;

    const QString& path() const { return m_path; }
    const QStringList& malformedLines() const { return m_malformed; }

    // A key given again in a section it was given in before (in any letter case, under any
    // spelling of the section's name): the earlier line no longer counts.
    struct Repeat {
        QString key;             // as written on the later line
        QString earlierSection;  // as written on the header above the earlier line
        QString laterSection;    // likewise for the later line
        int earlierLine;         // numbered from 1
        int laterLine;
    };
    const QList<Repeat>& repeats() const { return m_repeats; }
    // Each repeat in a sentence, naming the file and both lines.
    QList<Problem> repeatProblems() const;

    // The longest malformed line quoted whole; longer ones are cut with "...".
    static constexpr qsizetype kMaxQuotedLine = 1000;
    // What ends the lines of a file this program makes; a file read keeps its own.
#ifdef Q_OS_WIN
    static constexpr QStringView kPlatformLineEnd = u"\r\n";
#else
    static constexpr QStringView kPlatformLineEnd = u"\n";
#endif

private:
    struct Value {
        QString section;  // as first written
        QString key;      // as first written
        QString value;
    };
    // A line as read. `entry` holds the table key of a NAME=VALUE line that counts: the last of
    // its name in its section; `valueAt` is where its value starts. An earlier line of that name
    // has the key in `overruledBy` instead: it is kept as it is while the key has a value.
    // Headers have `header` set; their `section` is the folded name, `sectionName` the name as
    // written on the header above the line.
    struct Line {
        QString text;
        QString section;
        QString entry;
        qsizetype valueAt = 0;
        bool header = false;
        QString overruledBy;
        QString sectionName;
    };

    // Section entries map the upper-cased section name to the name as first written; values are
    // found by SECTION and KEY, both upper-cased, joined by a line feed.
    OrderedMap<QString> m_sections{CaseRule::Sensitive};
    OrderedMap<Value> m_values{CaseRule::Sensitive};
    QList<Line> m_lines;
    QString m_lineEnd = kPlatformLineEnd.toString();
    QString m_path;
    QStringList m_malformed;
    QList<Repeat> m_repeats;
};
