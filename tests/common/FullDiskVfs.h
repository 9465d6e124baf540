#pragma once

#include <sqlite3.h>

#include <atomic>
#include <deque>
#include <mutex>

// A disk that fills up on demand, for SQLite: the process's default VFS for as long as the
// object lives, the real one but for writes, which fail with SQLITE_FULL while full() is set.
class FullDiskVfs {
public:
    FullDiskVfs() {
        s_real = sqlite3_vfs_find(nullptr);
        s_vfs = *s_real;
        s_vfs.zName = "quilljot-full-disk";
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
    // A real file's methods with its writes replaced; the file keeps its own memory.
    struct Methods {
        sqlite3_io_methods mine;
        const sqlite3_io_methods* real;
    };

    static int open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                    int* outFlags) {
        const int rc = s_real->xOpen(s_real, name, file, flags, outFlags);
        if (file->pMethods != nullptr) {
            file->pMethods = &methodsFor(file->pMethods)->mine;
        }
        return rc;
    }

    static const Methods* methodsFor(const sqlite3_io_methods* real) {
        const std::lock_guard hold(s_lock);
        for (const Methods& m : s_methods) {
            if (m.real == real) {
                return &m;
            }
        }
        Methods& m = s_methods.emplace_back(Methods{*real, real});
        m.mine.xWrite = [](sqlite3_file* file, const void* from, int n, sqlite3_int64 at) {
            const auto* m = reinterpret_cast<const Methods*>(file->pMethods);
            return s_full ? SQLITE_FULL : m->real->xWrite(file, from, n, at);
        };
        return &m;
    }

    static inline sqlite3_vfs* s_real = nullptr;
    static inline sqlite3_vfs s_vfs{};
    static inline std::atomic<bool> s_full{false};
    static inline std::mutex s_lock;
    static inline std::deque<Methods> s_methods;  // addresses stay while files use them
};
