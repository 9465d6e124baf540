#include "support/PathRules.h"

namespace PathRules {

namespace {

bool isPosixForm(const QString& path) {
    return path.startsWith(u'/') && !path.startsWith(u"//");
}

bool isWindowsForm(const QString& path) {
    return path.contains(u'\\') || (path.size() >= 2 && path[1] == u':');
}

}  // namespace

bool isInstalledProgramFolder(const QString& folder) {
    const qsizetype cut = folder.lastIndexOf(u'/');
    if (cut < 0) {
        return false;
    }
    const QStringView name = QStringView(folder).mid(cut + 1);
    const QStringView prefix = QStringView(folder).left(cut);
    if (name != u"bin" && name != u"sbin" && name != u"libexec") {
        return false;
    }
    if (prefix.isEmpty() || prefix == u"/usr" || prefix == u"/usr/local" || prefix == u"/opt") {
        return true;
    }
    // /opt/NAME: one folder below /opt.
    return prefix.startsWith(u"/opt/") && !prefix.mid(5).contains(u'/') && prefix.size() > 5;
}

QString uncToDriveForm(const QString& exePath) {
    const qsizetype p0 = exePath.indexOf(u"\\\\");
    if (p0 < 0) {
        return exePath;
    }
    const qsizetype p1 = exePath.indexOf(u'\\', p0 + 2);
    if (p1 < 0) {
        return exePath;
    }
    const qsizetype p2 = exePath.indexOf(u'\\', p1 + 1);
    if (p2 < 0) {
        return exePath;
    }
    return exePath.mid(p1 + 1, p2 - p1 - 1) + u':' + exePath.mid(p2);
}

QStringList foldersFor(const QString& path) {
    QString root;
    QString rest;
    QChar sep = u'\\';
    if (isPosixForm(path)) {
        sep = u'/';
        rest = path;  // root is the empty text before the leading "/"
    } else {
        qsizetype p = path.indexOf(u':');
        if (p < 0) {
            p = path.indexOf(u"\\\\");
            if (p < 0) {
                return {};
            }
            p = path.indexOf(u'\\', p + 2);
            if (p < 0) {
                return {};
            }
            p = path.indexOf(u'\\', p + 1);
            if (p < 0) {
                return {};
            }
        } else {
            p += 1;  // keep the drive letter with its colon
        }
        root = path.left(p);
        rest = path.mid(p);
    }
    const QStringList parts = rest.split(sep);
    QStringList folders;
    for (qsizetype i = 1; i < parts.size() - 1; ++i) {
        root += sep + parts[i];
        folders.append(root);
    }
    return folders;
}

QString join(const QString& base, const QString& name) {
    const QChar sep = (isWindowsForm(base) && !isPosixForm(base)) ? u'\\' : u'/';
    if (base.endsWith(sep)) {
        return base + name;
    }
    return base + sep + name;
}

}  // namespace PathRules
