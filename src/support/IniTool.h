#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "message/OrderedMap.h"

class XapGlobal;

// The INI engine: loads one INI file into a table, answers reads with a default, takes writes and
// removals, and saves the table back as a sorted, upper-cased file after copying the previous
// file to "<path>_bck". It also rewrites constant, string and array declarations of a source
// text from the loaded values (the installer operations).
//
// Table entries: header entries map the upper-cased header name to the name as first written;
// value entries map "HEADER~KEY" (both upper-cased) to the value.
class IniTool {
public:
    explicit IniTool(XapGlobal& global) : m_global(global) {}

    void Load(const QString& fPath);
    // The table from the text of a settings file; Load reads the file and hands its text here.
    void LoadText(const QString& text);
    QString Read(const QString& Header, const QString& Key, const QString& defaultvalue) const;
    void WriteKey(const QString& Header, const QString& Key, const QString& newValue);
    void Remove(const QString& Header, const QString& Key);
    QStringList Headers() const;
    QStringList Keys(const QString& Header) const;
    void Clear() { m_table.clear(); }
    void Save();
    void DumpHashTable() {}

    // Installer operations; failures (missing files, bad patterns, a match with no CR LF after
    // it) are thrown to the caller before the target file is written.
    void InstallKeys(const QString& filename, const QString& HeaderName);
    void InstallConstant(const QString& filename, const QString& KeyName, const QString& KeyValue);
    void InstallStrings(const QString& filename, const QString& HeaderName);
    void InstallArray(const QString& filename, const QString& HeaderName, const QString& Array1Name,
                      const QString& Array2Name);

    // The longest malformed line quoted whole in a report; longer ones are cut with "...".
    static constexpr qsizetype kMaxQuotedLine = 1000;

private:
    QString WriteInstallLog(const QString& filename, const QString& header);
    void replaceDeclarations(QString& text, const QString& name, const QString& value,
                             const QString& marker);

    XapGlobal& m_global;
    OrderedMap<QString> m_table{CaseRule::Sensitive};
    QString m_loadedPath;
};
