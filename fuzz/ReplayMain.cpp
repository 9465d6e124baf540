// Runs a fuzz target over saved inputs (files, or every file of the folders named) without the
// fuzzing engine: the corpus and the inputs of past crashes become an ordinary test.
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()),
                           size_t(bytes.size()));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int count = 0;
    bool ok = true;
    for (const QString& arg : app.arguments().mid(1)) {
        if (QFileInfo(arg).isDir()) {
            QDirIterator it(arg, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                ok = replay(it.next()) && ok;
                ++count;
            }
        } else if (QFileInfo::exists(arg)) {
            ok = replay(arg) && ok;
            ++count;
        }
    }
    std::printf("%d inputs replayed\n", count);
    return ok && count > 0 ? 0 : 1;
}
