// A TCP relay that delays every byte by a fixed one-way time in each direction, for
// measuring transfers over a link with a round trip when the kernel has no netem:
//
//   delayrelay LISTEN-PORT TARGET-HOST TARGET-PORT DELAY-US [WINDOW-KIB]
//
// Each accepted connection gets a connection to the target; bytes read from one side are
// written to the other DELAY-US after they were read. Flow control stays TCP's own: a side
// is read only while fewer than WINDOW-KIB (default 4096) of its bytes are in flight inside
// the relay, so a slow reader pushes back on the writer as it would through a real link,
// and the relay never holds more than that per direction. Runs until killed.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    size_t written = 0;
};

// One direction: what was read from `from`, waiting for its time to be written to `to`.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    size_t inFlight = 0;
    bool readEnded = false;  // `from` closed its side; shut `to`'s once the queue is empty
    bool shut = false;
};

struct Pair {
    Direction up;    // client -> target
    Direction down;  // target -> client
    bool dead = false;
};

void setNoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int connectTarget(const char* host, const char* port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) {
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
        close(fd);
        freeaddrinfo(found);
        return -1;
    }
    freeaddrinfo(found);
    setNoDelay(fd);
    return fd;
}

// Reads what `d.from` has (within the window), writes what is due; false when the pair is
// over (an error on either side).
bool pump(Direction& d, Clock::duration delay, size_t window, bool readable) {
    if (readable && !d.readEnded && d.inFlight < window) {
        Chunk chunk;
        chunk.bytes.resize(std::min<size_t>(256 * 1024, window - d.inFlight));
        const ssize_t n = read(d.from, chunk.bytes.data(), chunk.bytes.size());
        if (n > 0) {
            chunk.bytes.resize(static_cast<size_t>(n));
            chunk.due = Clock::now() + delay;
            d.inFlight += static_cast<size_t>(n);
            d.queue.push_back(std::move(chunk));
        } else if (n == 0) {
            d.readEnded = true;
        } else if (errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    const Clock::time_point now = Clock::now();
    while (!d.queue.empty() && d.queue.front().due <= now) {
        Chunk& front = d.queue.front();
        const ssize_t n =
            write(d.to, front.bytes.data() + front.written, front.bytes.size() - front.written);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                break;
            }
            return false;
        }
        front.written += static_cast<size_t>(n);
        d.inFlight -= static_cast<size_t>(n);
        if (front.written < front.bytes.size()) {
            break;
        }
        d.queue.pop_front();
    }
    if (d.readEnded && d.queue.empty() && !d.shut) {
        shutdown(d.to, SHUT_WR);
        d.shut = true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: delayrelay LISTEN-PORT TARGET-HOST TARGET-PORT DELAY-US "
                     "[WINDOW-KIB]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const auto delay = std::chrono::microseconds(std::atol(argv[4]));
    const size_t window = (argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 4096) * 1024;

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0) {
        std::perror("delayrelay: listen");
        return 1;
    }
    std::printf("relaying %s -> %s:%s, %ld us each way\n", argv[1], argv[2], argv[3],
                static_cast<long>(delay.count()));
    std::fflush(stdout);

    std::vector<std::unique_ptr<Pair>> pairs;
    for (;;) {
        // Per pair two descriptors: the client's and the target's. A side is read while its
        // direction has room, and waited on for writing while the other direction has a
        // chunk that is due and could not be written whole.
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        const Clock::time_point now = Clock::now();
        Clock::time_point earliest = Clock::time_point::max();
        for (const auto& pair : pairs) {
            for (Direction* d : {&pair->up, &pair->down}) {
                const Direction& other = d == &pair->up ? pair->down : pair->up;
                short events = 0;
                if (!d->readEnded && d->inFlight < window) {
                    events |= POLLIN;
                }
                if (!other.queue.empty()) {
                    if (other.queue.front().due <= now) {
                        events |= POLLOUT;
                    } else {
                        earliest = std::min(earliest, other.queue.front().due);
                    }
                }
                fds.push_back({d->from, events, 0});
            }
        }
        timespec timeout{};
        timespec* wait = nullptr;
        if (earliest != Clock::time_point::max()) {
            const auto rest = std::max<Clock::duration>(earliest - now, Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(rest).count();
            timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            wait = &timeout;
        }
        ppoll(fds.data(), fds.size(), wait, nullptr);
        if (fds[0].revents & POLLIN) {
            const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int target = connectTarget(argv[2], argv[3]);
                if (target < 0) {
                    close(client);
                } else {
                    setNoDelay(client);
                    auto pair = std::make_unique<Pair>();
                    pair->up.from = client;
                    pair->up.to = target;
                    pair->down.from = target;
                    pair->down.to = client;
                    pairs.push_back(std::move(pair));
                    continue;  // the descriptors polled no longer match the pairs
                }
            }
        }
        size_t index = 1;
        for (auto& pair : pairs) {
            const auto readable = [](const pollfd& fd) {
                return (fd.events & POLLIN) != 0 &&
                       (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
            };
            const bool upReadable = readable(fds[index]);
            const bool downReadable = readable(fds[index + 1]);
            index += 2;
            if (!pump(pair->up, delay, window, upReadable) ||
                !pump(pair->down, delay, window, downReadable) ||
                (pair->up.shut && pair->down.shut)) {
                close(pair->up.from);
                close(pair->down.from);
                pair->dead = true;
            }
        }
        std::erase_if(pairs, [](const auto& pair) { return pair->dead; });
    }
}
