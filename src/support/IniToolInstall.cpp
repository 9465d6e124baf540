// The installer operations of IniTool: rewrite declarations of a source text from loaded values.
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "message/SpaceTrim.h"
#include "message/TextCodec.h"
#include "support/DateText.h"
#include "support/Failure.h"
#include "support/IniTool.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString readWhole(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw Failure(ErrorNumber::FileSystem,
                      QStringLiteral("Cannot read ") + path + u": " + f.errorString());
    }
    return textFromBytes(f.readAll());
}

void writeWhole(const QString& path, const QString& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw Failure(ErrorNumber::FileSystem,
                      QStringLiteral("Cannot write ") + path + u": " + f.errorString());
    }
    f.write(bytesFromText(text));
}

QRegularExpression pattern(const QString& source) {
    QRegularExpression re(source, QRegularExpression::CaseInsensitiveOption);
    if (!re.isValid()) {
        throw Failure(ErrorNumber::Settings,
                      QStringLiteral("Bad pattern ") + source + u": " + re.errorString());
    }
    return re;
}

qsizetype lineEndFrom(const QString& text, qsizetype from) {
    const qsizetype end = text.indexOf(kCrLf, from);
    if (end < 0) {
        throw Failure(ErrorNumber::Settings,
                      QStringLiteral("Line without CR LF at position ") + QString::number(from));
    }
    return end;
}

// Replaces, for every match of `re` found on the text as it is now, the text from the end of the
// match to the end of its line by what `replacement` returns. Matches are handled from the last
// to the first so that a replacement never shifts a match still to be handled.
template <typename F>
void replaceToLineEnd(QString& text, const QRegularExpression& re, F replacement) {
    QList<QRegularExpressionMatch> matches;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        matches.append(it.next());
    }
    struct Edit {
        qsizetype from;
        qsizetype to;
        QString with;
    };
    QList<Edit> edits;
    for (const auto& m : matches) {
        const auto [from, with] = replacement(m);
        edits.append(Edit{from, lineEndFrom(text, from), with});
    }
    for (auto e = edits.crbegin(); e != edits.crend(); ++e) {
        text.replace(e->from, e->to - e->from, e->with);
    }
}

}  // namespace

QString IniTool::WriteInstallLog(const QString& filename, const QString& header) {
    const QFileInfo ini(m_loadedPath);
    if (!ini.exists()) {
        throw Failure(ErrorNumber::FileSystem,
                      QStringLiteral("Settings file not found: ") + m_loadedPath);
    }
    const QString dated = DateText::isoText(ini.lastModified());
    const qsizetype dot = m_loadedPath.indexOf(u'.');
    if (dot >= 0) {
        const QString logPath = m_loadedPath.left(dot) + QStringLiteral("_IniLog.txt");
        QString content = QFileInfo::exists(logPath)
                              ? readWhole(logPath)
                              : QStringLiteral(
                                    "Run Date   /   Ini File   /   Date of Ini File    "
                                    "/   File Modified    /  Header Modified") +
                                    kCrLf;
        content += DateText::isoText(QDateTime::currentDateTime()) + u'\t' + m_loadedPath + u'\t' +
                   dated + u'\t' + filename + u'\t' + header + kCrLf;
        writeWhole(logPath, content);
    }
    return QStringLiteral("\t'Installed From .ini dated ") + dated;
}

void IniTool::replaceDeclarations(QString& text, const QString& name, const QString& value,
                                  const QString& marker) {
    const QString sources[] = {QStringLiteral("(Const) *(") + name + QStringLiteral(") *(=)"),
                               QStringLiteral("\\n\\s*(") + name + QStringLiteral(") *(=)")};
    for (const QString& source : sources) {
        replaceToLineEnd(text, pattern(source), [&](const QRegularExpressionMatch& m) {
            return std::pair<qsizetype, QString>{m.capturedEnd(), u' ' + value + marker};
        });
    }
}

void IniTool::InstallKeys(const QString& filename, const QString& HeaderName) {
    QString text = readWhole(filename);
    const QStringList keys = Keys(HeaderName);
    const QString marker = WriteInstallLog(filename, HeaderName);
    for (const QString& key : keys) {
        if (!key.isEmpty()) {
            replaceDeclarations(text, key, Read(HeaderName, key, QString()), marker);
        }
    }
    writeWhole(filename, text);
}

void IniTool::InstallConstant(const QString& filename, const QString& KeyName,
                              const QString& KeyValue) {
    QString text = readWhole(filename);
    const QString marker = WriteInstallLog(filename, KeyName);
    if (!KeyName.isEmpty()) {
        replaceDeclarations(text, KeyName, KeyValue, marker);
    }
    writeWhole(filename, text);
}

void IniTool::InstallStrings(const QString& filename, const QString& HeaderName) {
    QString text = readWhole(filename);
    const QStringList keys = Keys(HeaderName);
    WriteInstallLog(filename, HeaderName);
    for (const QString& key : keys) {
        if (key.isEmpty()) {
            continue;
        }
        const QString value = Read(HeaderName, key, QString());
        replaceToLineEnd(text, pattern(QStringLiteral("\\n\\s*(") + key + u')'),
                         [&](const QRegularExpressionMatch& m) {
                             const qsizetype at =
                                 text.indexOf(key, m.capturedStart(), Qt::CaseInsensitive);
                             return std::pair<qsizetype, QString>{at + key.size(), value};
                         });
    }
    writeWhole(filename, text);
}

void IniTool::InstallArray(const QString& filename, const QString& HeaderName,
                           const QString& Array1Name, const QString& Array2Name) {
    QString text = readWhole(filename);
    const QStringList keys = Keys(HeaderName);
    const QString marker = WriteInstallLog(filename, HeaderName);
    QStringList names;
    QStringList values;
    for (const QString& key : keys) {
        QString value = trimSpaces(Read(HeaderName, key, QString())).toString();
        if (const qsizetype quote = value.indexOf(u'\''); quote >= 0) {
            value = trimSpaces(value.left(quote)).toString();
        }
        names.append(u'"' + key + u'"');
        values.append(value);
    }
    const QString nameList = u'(' + names.join(u',') + u')';
    const QString valueList = u'(' + values.join(u',') + u')';
    replaceToLineEnd(text, pattern(u'(' + Array1Name + QStringLiteral(") *(=) *(Array)")),
                     [&](const QRegularExpressionMatch& m) {
                         return std::pair<qsizetype, QString>{m.capturedEnd(), nameList + marker};
                     });
    replaceToLineEnd(text, pattern(u'(' + Array2Name + QStringLiteral(") *= *Array")),
                     [&](const QRegularExpressionMatch& m) {
                         return std::pair<qsizetype, QString>{m.capturedEnd(), valueList + marker};
                     });
    writeWhole(filename, text);
}
