#include "lab/serving.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vorel::lab {

namespace {
// How long the waiting thread sleeps before it looks whether the lab stops.
constexpr int kStopCheckMs = 20;
} // namespace

ConnectionServer::~ConnectionServer() {
    join();
}

bool ConnectionServer::start(const std::vector<int> &listeners, Admit admit) {
    epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0)
        return false;
    for (size_t i = 0; i < listeners.size(); i++) {
        // A connection reset between the wake-up and the accept must not
        // block the thread that holds the listeners.
        ::fcntl(listeners[i], F_SETFL, ::fcntl(listeners[i], F_GETFL) | O_NONBLOCK);
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = i;
        if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, listeners[i], &e) < 0) {
            int err = errno;
            ::close(epoll_fd_);
            epoll_fd_ = -1;
            errno = err;
            return false;
        }
    }
    listeners_ = listeners;
    admit_ = std::move(admit);
    stopping_ = false;
    std::lock_guard<std::mutex> g(threads_mu_);
    start_thread();
    return true;
}

// threads_mu_ is held.
void ConnectionServer::start_thread() {
    waiting_++;
    threads_.emplace_back([this] { run(); });
}

void ConnectionServer::ensure_waiter() {
    std::lock_guard<std::mutex> g(threads_mu_);
    if (waiting_ == 0 && !stopping_)
        start_thread();
}

// Each thread in turn holds the listeners until it accepts a connection,
// then serves it and queues for the listeners again.
void ConnectionServer::run() {
    for (;;) {
        std::unique_lock<std::mutex> hold(listeners_mu_);
        {
            std::lock_guard<std::mutex> g(threads_mu_);
            waiting_--;
        }
        int fd = -1;
        size_t listener = 0;
        while (fd < 0 && !stopping_) {
            epoll_event e{};
            if (::epoll_wait(epoll_fd_, &e, 1, kStopCheckMs) != 1)
                continue;
            listener = static_cast<size_t>(e.data.u64);
            fd = ::accept4(listeners_[listener], nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (fd < 0)
            return;
        Job job = admit_(listener, fd);
        ensure_waiter();
        hold.unlock();
        job();
        std::lock_guard<std::mutex> g(threads_mu_);
        waiting_++;
    }
}

void ConnectionServer::stop_accepting() {
    stopping_ = true;
    // The thread holding the listeners lets them go within kStopCheckMs;
    // whoever takes them next sees stopping_ first.
    std::lock_guard<std::mutex> g(listeners_mu_);
}

void ConnectionServer::join() {
    stop_accepting();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> g(threads_mu_);
        threads.swap(threads_);
    }
    for (auto &t : threads)
        t.join();
    waiting_ = 0;
    if (epoll_fd_ >= 0)
        ::close(epoll_fd_);
    epoll_fd_ = -1;
}

} // namespace vorel::lab
