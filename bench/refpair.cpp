// A minimal blocking pair that speaks the same wire format as Ruvo, and a raw TCP copy,
// as yardsticks for the benchmark. Each block does the same file work as the program:
// the sender opens, seeks, reads and closes; the receiver opens, seeks, writes and
// closes, then opens again to measure the length.
//
//   refpair recv <port> <folder>             serve one offer into <folder>
//   refpair send <host> <port> <file> [split] offer <file>; "split" writes each block as
//                                            header and payload in two sends with Nagle on
//   refpair rawrecv <port> <file>            accept one connection, copy it into <file>
//   refpair rawsend <host> <port> <file>     send <file> over one connection
//   refpair ticks <ms>                       sleep <ms> at a time until SIGTERM, then
//                                            print the longest time between two wake-ups
//                                            (what the machine itself allows a timer)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long long kBlock = 2048;
constexpr long long kPayload = 2049;

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

void sendAll(int s, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(s, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("send");
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Reads exactly `size` bytes; false when the peer closed first.
bool recvAll(int s, char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(s, data, size, 0);
        if (n == 0)
            return false;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("recv");
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads up to and including `stop`, or one byte when the first is a one-letter message.
std::string recvUntil(int s, char stop) {
    std::string text;
    char c;
    while (recvAll(s, &c, 1)) {
        text += c;
        if (c == stop)
            break;
    }
    return text;
}

void setFlag(int s, int level, int name, int value) {
    ::setsockopt(s, level, name, &value, sizeof value);
}

int listenOn(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    setFlag(s, SOL_SOCKET, SO_REUSEADDR, 1);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0)
        fail("bind");
    if (::listen(s, 5) < 0)
        fail("listen");
    const int c = ::accept(s, nullptr, nullptr);
    if (c < 0)
        fail("accept");
    ::close(s);
    return c;
}

int connectTo(const char* host, int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = ::inet_addr(host);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0)
        fail("connect");
    return s;
}

long long fileLength(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        fail("open");
    const off_t length = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    return length;
}

int receive(int port, const std::string& folder) {
    const int s = listenOn(port);
    setFlag(s, IPPROTO_TCP, TCP_NODELAY, 1);
    char offer[4096];
    const ssize_t n = ::recv(s, offer, sizeof offer - 1, 0);
    if (n <= 2 || offer[0] != 'i')
        fail("offer");
    offer[n] = '\0';
    char* name = offer + 2;
    char* bar = std::strchr(name, '|');
    if (bar == nullptr)
        fail("offer");
    *bar = '\0';
    const long long size = std::atoll(bar + 1);
    const std::string path = folder + "/" + name;
    ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));

    std::vector<char> payload(kPayload);
    for (;;) {
        const long long length = fileLength(path);
        if (length >= size) {
            sendAll(s, "f", 1);
            break;
        }
        const std::string request = "a|" + std::to_string(length / kBlock);
        sendAll(s, request.data(), request.size());
        setFlag(s, IPPROTO_TCP, TCP_QUICKACK, 1);
        std::string header;
        for (int bars = 0; bars < 3; ++bars) {
            header += recvUntil(s, '|');
        }
        long long index = 0;
        long long count = 0;
        if (std::sscanf(header.c_str(), "d|%lld|%lld|", &index, &count) != 2)
            fail("block");
        if (!recvAll(s, payload.data(), kPayload))
            fail("block payload");
        const int fd = ::open(path.c_str(), O_WRONLY);
        if (fd < 0)
            fail("open");
        ::lseek(fd, index * kBlock, SEEK_SET);
        if (::write(fd, payload.data(), static_cast<size_t>(count)) != count)
            fail("write");
        ::close(fd);
    }
    char c;
    while (::recv(s, &c, 1, 0) > 0) {
    }
    ::close(s);
    return 0;
}

int send(const char* host, int port, const std::string& path, bool split) {
    const int s = connectTo(host, port);
    setFlag(s, IPPROTO_TCP, TCP_NODELAY, split ? 0 : 1);
    const long long size = fileLength(path);
    const std::string base = path.substr(path.find_last_of('/') + 1);
    const std::string offer = "i|" + base + "|" + std::to_string(size);
    sendAll(s, offer.data(), offer.size());

    std::vector<char> message(32 + kPayload);
    for (;;) {
        char request[64];
        const ssize_t n = ::recv(s, request, sizeof request - 1, 0);
        if (n <= 0)
            fail("recv");
        request[n] = '\0';
        if (request[0] == 'f')
            break;
        const long long index = std::atoll(request + 2);
        std::vector<char> payload(kPayload, 0);
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0)
            fail("open");
        ::lseek(fd, index * kBlock, SEEK_SET);
        const ssize_t count = ::read(fd, payload.data(), kBlock);
        ::close(fd);
        const std::string header = "d|" + std::to_string(index) + "|" + std::to_string(count) + "|";
        if (split) {
            sendAll(s, header.data(), header.size());
            sendAll(s, payload.data(), payload.size());
        } else {
            std::memcpy(message.data(), header.data(), header.size());
            std::memcpy(message.data() + header.size(), payload.data(), payload.size());
            sendAll(s, message.data(), header.size() + payload.size());
        }
    }
    ::close(s);
    return 0;
}

int rawReceive(int port, const std::string& path) {
    const int s = listenOn(port);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::recv(s, buffer.data(), buffer.size(), 0);
        if (n <= 0)
            break;
        if (::write(fd, buffer.data(), static_cast<size_t>(n)) != n)
            fail("write");
    }
    ::close(fd);
    ::close(s);
    return 0;
}

int rawSend(const char* host, int port, const std::string& path) {
    const int s = connectTo(host, port);
    const int fd = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        sendAll(s, buffer.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    ::shutdown(s, SHUT_WR);
    char c;
    while (::recv(s, &c, 1, 0) > 0) {
    }
    ::close(s);
    return 0;
}

volatile std::sig_atomic_t stopTicks = 0;

long long nowNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int ticks(int ms) {
    struct sigaction action {};
    action.sa_handler = [](int) { stopTicks = 1; };
    ::sigaction(SIGTERM, &action, nullptr);
    const timespec interval{ms / 1000, (ms % 1000) * 1000000L};
    long long last = nowNs();
    long long longest = 0;
    while (!stopTicks) {
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &interval, nullptr);
        const long long now = nowNs();
        longest = std::max(longest, now - last);
        last = now;
    }
    std::printf("max-tick-gap-ms %lld\n", longest / 1000000);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "recv" && argc == 4)
        return receive(std::atoi(argv[2]), argv[3]);
    if (mode == "send" && (argc == 5 || argc == 6))
        return send(argv[2], std::atoi(argv[3]), argv[4], argc == 6);
    if (mode == "rawrecv" && argc == 4)
        return rawReceive(std::atoi(argv[2]), argv[3]);
    if (mode == "rawsend" && argc == 5)
        return rawSend(argv[2], std::atoi(argv[3]), argv[4]);
    if (mode == "ticks" && argc == 3)
        return ticks(std::max(1, std::atoi(argv[2])));
    std::fprintf(stderr, "usage: see the comment at the top of refpair.cpp\n");
    return 2;
}
