#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstring>

// A disk that fills up on demand, for SQLite: the process's default VFS for as long as the
// object lives, passing everything to the real one but for writes, which fail with SQLITE_FULL
// while full() is set.
class FullDiskVfs {
public:
    FullDiskVfs() {
        s_real = sqlite3_vfs_find(nullptr);
        s_vfs = *s_real;
        s_vfs.zName = "quilljot-full-disk";
        s_vfs.szOsFile = int(sizeof(File)) + s_real->szOsFile;
        s_vfs.xOpen = &open;
        sqlite3_vfs_register(&s_vfs, 1);
    }
    ~FullDiskVfs() {
        sqlite3_vfs_unregister(&s_vfs);
        sqlite3_vfs_register(s_real, 1);
    }
    FullDiskVfs(const FullDiskVfs&) = delete;
    FullDiskVfs& operator=(const FullDiskVfs&) = delete;

    static void setFull(bool full) { s_full = full; }

private:
    // The real file follows the header in the same allocation.
    struct File {
        sqlite3_file base;
        const sqlite3_io_methods* realMethods;
        sqlite3_io_methods methods;
        sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
    };

    static int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                    int* outFlags) {
        auto* f = reinterpret_cast<File*>(file);
        std::memset(f, 0, sizeof(File));
        const int rc = s_real->xOpen(s_real, name, f->real(), flags, outFlags);
        if (f->real()->pMethods == nullptr) {
            return rc;
        }
        f->realMethods = f->real()->pMethods;
        f->methods = *f->realMethods;
        f->methods.xClose = [](sqlite3_file* file) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xClose(f->real());
        };
        f->methods.xRead = [](sqlite3_file* file, void* to, int n, sqlite3_int64 at) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xRead(f->real(), to, n, at);
        };
        f->methods.xWrite = [](sqlite3_file* file, const void* from, int n, sqlite3_int64 at) {
            auto* f = reinterpret_cast<File*>(file);
            return s_full ? SQLITE_FULL : f->realMethods->xWrite(f->real(), from, n, at);
        };
        f->methods.xTruncate = [](sqlite3_file* file, sqlite3_int64 size) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xTruncate(f->real(), size);
        };
        f->methods.xSync = [](sqlite3_file* file, int flags) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xSync(f->real(), flags);
        };
        f->methods.xFileSize = [](sqlite3_file* file, sqlite3_int64* size) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xFileSize(f->real(), size);
        };
        f->methods.xLock = [](sqlite3_file* file, int level) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xLock(f->real(), level);
        };
        f->methods.xUnlock = [](sqlite3_file* file, int level) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xUnlock(f->real(), level);
        };
        f->methods.xCheckReservedLock = [](sqlite3_file* file, int* out) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xCheckReservedLock(f->real(), out);
        };
        f->methods.xFileControl = [](sqlite3_file* file, int op, void* arg) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xFileControl(f->real(), op, arg);
        };
        f->methods.xSectorSize = [](sqlite3_file* file) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xSectorSize(f->real());
        };
        f->methods.xDeviceCharacteristics = [](sqlite3_file* file) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xDeviceCharacteristics(f->real());
        };
        f->methods.xShmMap = [](sqlite3_file* file, int page, int size, int extend,
                                void volatile** at) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xShmMap(f->real(), page, size, extend, at);
        };
        f->methods.xShmLock = [](sqlite3_file* file, int offset, int n, int flags) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xShmLock(f->real(), offset, n, flags);
        };
        f->methods.xShmBarrier = [](sqlite3_file* file) {
            auto* f = reinterpret_cast<File*>(file);
            f->realMethods->xShmBarrier(f->real());
        };
        f->methods.xShmUnmap = [](sqlite3_file* file, int remove) {
            auto* f = reinterpret_cast<File*>(file);
            return f->realMethods->xShmUnmap(f->real(), remove);
        };
        // Memory-mapped reads and writes would go around xWrite.
        f->methods.iVersion = 2;
        f->base.pMethods = &f->methods;
        return rc;
    }

    static inline sqlite3_vfs* s_real = nullptr;
    static inline sqlite3_vfs s_vfs{};
    static inline std::atomic<bool> s_full{false};
};
