// The limit this machine reaches: recvmmsg into the log table's schema in SQLite (WAL,
// synchronous=NORMAL) with one prepared insert and one transaction per receive batch.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

std::string_view item(std::string_view text, std::string_view name) {
    const size_t at = text.find(name);
    if (at == std::string_view::npos) {
        return "Unknown";
    }
    const size_t from = at + name.size();
    const size_t end = text.find('\n', from);
    return text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
}

bool exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "baseline: %s: %s\n", sql, err ? err : "?");
        sqlite3_free(err);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: baseline PORT DATABASE\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[2], &db) != SQLITE_OK) {
        std::fprintf(stderr, "baseline: cannot open %s\n", argv[2]);
        return 1;
    }
    sqlite3_busy_timeout(db, 5000);
    if (!exec(db, "PRAGMA journal_mode=WAL") || !exec(db, "PRAGMA synchronous=NORMAL") ||
        !exec(db,
              "CREATE TABLE IF NOT EXISTS tblQuilljot (ID INTEGER PRIMARY KEY AUTOINCREMENT, "
              "SampleDate DATETIME, Source VARCHAR(255), Category VARCHAR(255), Data TEXT)")) {
        return 1;
    }
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO tblQuilljot (SampleDate,Source,Category,Data) VALUES (?,?,?,?)",
                       -1, &insert, nullptr);

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int rcvbuf = 16 * 1024 * 1024;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof(rcvbuf)) != 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
    }
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof(at)) != 0) {
        std::perror("baseline: bind");
        return 1;
    }
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    std::printf("ready\n");
    std::fflush(stdout);

    constexpr int kBatch = 256;
    constexpr int kSize = 2048;
    std::vector<char> buffers(kBatch * kSize);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> msgs(kBatch);
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {buffers.data() + i * kSize, kSize};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    while (!g_stop) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) {
            continue;
        }
        const int n = recvmmsg(fd, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (n <= 0) {
            continue;
        }
        exec(db, "BEGIN");
        for (int i = 0; i < n; ++i) {
            const std::string_view text(buffers.data() + i * kSize, msgs[i].msg_len);
            if (text.substr(0, 8) != "xap-head") {
                continue;
            }
            const auto time = item(text, "\nTime=");
            const auto source = item(text, "\nsource=");
            const auto type = item(text, "\nType=");
            const auto data = item(text, "\nData=");
            sqlite3_bind_text(insert, 1, time.data(), int(time.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 2, source.data(), int(source.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 3, type.data(), int(type.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 4, data.data(), int(data.size()), SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        exec(db, "COMMIT");
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    close(fd);
    return 0;
}
