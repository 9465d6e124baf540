// Load generator: sends N distinct controller events (class Homeseer.Event, a sequence number in
// Data) to a loopback port, in batches with sendmmsg, at a given rate or as fast as it can. Their
// Time is one fixed text, or the second each is sent in, as a real network's events are.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

enum class TimeForm { Fixed, Controller, Iso };

// The Time item: controllers write their local time with a 12-hour clock, month first.
class EventTime {
public:
    explicit EventTime(TimeForm form) : m_form(form) {}

    const std::string& text() {
        if (m_form == TimeForm::Fixed) {
            static const std::string fixed = "2026-12-04 23:13:09";
            return fixed;
        }
        const time_t second = time(nullptr);
        if (second != m_second) {
            m_second = second;
            tm local{};
            localtime_r(&second, &local);
            char out[40];
            if (m_form == TimeForm::Iso) {
                std::strftime(out, sizeof(out), "%Y-%m-%d %H:%M:%S", &local);
            } else {
                const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
                std::snprintf(out, sizeof(out), "%d/%d/%d %d:%02d:%02d %s", local.tm_mon + 1,
                              local.tm_mday, local.tm_year + 1900, hour, local.tm_min, local.tm_sec,
                              local.tm_hour < 12 ? "AM" : "PM");
            }
            m_text = out;
        }
        return m_text;
    }

private:
    TimeForm m_form;
    time_t m_second = -1;
    std::string m_text;
};

std::string event(long seq, const std::string& time) {
    char data[64];
    std::snprintf(data, sizeof(data), "%010ld", seq);
    return std::string(
               "xap-header\n{\nv=12\nhop=1\nuid=FF123400\nclass=Homeseer.Event\n"
               "source=bench.loadgen.host\n}\nEvent.Log\n{\nTime=") +
           time + "\nType=Bench\nData=seq " + data +
           " the quick brown fox jumps over the lazy dog while the porch light stays on "
           "and the thermostat reads 21.5 C\n}\n";
}

int usage() {
    std::fprintf(stderr,
                 "usage: loadgen --port P --count N [--rate R] [--start S] [--time T]\n"
                 "Sends N events to 127.0.0.1:P; R events per second (0 = as fast as possible);\n"
                 "sequence numbers start at S (default 1). Their Time: T = fixed (default, one\n"
                 "text for all), now (the second each is sent in, as controllers write it:\n"
                 "12/4/2026 11:13:09 PM) or now-iso (the same second as 2026-12-04 23:13:09).\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long port = 0;
    long count = 0;
    double rate = 0;
    long start = 1;
    TimeForm timeForm = TimeForm::Fixed;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        if (a == "--port") {
            port = std::atol(argv[++i]);
        } else if (a == "--count") {
            count = std::atol(argv[++i]);
        } else if (a == "--rate") {
            rate = std::atof(argv[++i]);
        } else if (a == "--start") {
            start = std::atol(argv[++i]);
        } else if (a == "--time") {
            const std::string form = argv[++i];
            if (form == "fixed") {
                timeForm = TimeForm::Fixed;
            } else if (form == "now") {
                timeForm = TimeForm::Controller;
            } else if (form == "now-iso") {
                timeForm = TimeForm::Iso;
            } else {
                return usage();
            }
        } else {
            return usage();
        }
    }
    if (port <= 0 || port > 65535 || count <= 0 || rate < 0) {
        return usage();
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int sndbuf = 4 * 1024 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof(sndbuf));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never anywhere but loopback

    constexpr int kBatch = 64;
    std::vector<std::string> texts(kBatch);
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> msgs(kBatch);
    EventTime eventTime(timeForm);
    const double t0 = now();
    long sent = 0;
    while (sent < count) {
        const int n = static_cast<int>(std::min<long>(kBatch, count - sent));
        // At a given rate, small batches go out on schedule (about 2000 a second).
        const int chunk = rate > 0 ? std::max(1, std::min(n, static_cast<int>(rate / 2000))) : n;
        if (rate > 0) {
            const double due = t0 + sent / rate;
            for (double gap = due - now(); gap > 0; gap = due - now()) {
                if (gap > 0.0002) {
                    usleep(static_cast<useconds_t>(gap * 1e6 / 2));
                }
            }
        }
        for (int i = 0; i < chunk; ++i) {
            texts[i] = event(start + sent + i, eventTime.text());
            iov[i] = {texts[i].data(), texts[i].size()};
            msgs[i] = {};
            msgs[i].msg_hdr.msg_name = &to;
            msgs[i].msg_hdr.msg_namelen = sizeof(to);
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        int done = 0;
        while (done < chunk) {
            const int r = sendmmsg(fd, msgs.data() + done, chunk - done, 0);
            if (r < 0) {
                if (errno == EAGAIN || errno == ENOBUFS || errno == EINTR) {
                    continue;
                }
                std::perror("sendmmsg");
                return 1;
            }
            done += r;
        }
        sent += chunk;
    }
    const double elapsed = now() - t0;
    std::printf("sent %ld in %.3f s (%.0f/s)\n", sent, elapsed, sent / elapsed);
    close(fd);
    return 0;
}
