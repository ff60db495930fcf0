// The threads that accept the lab's connections and serve them.
//
// A command asks dozens of agents one after the other, each on a fresh
// connection.  A thread started for each connection (its stack mapped and
// released again, the join on the accepting thread's path) and the hand-over
// from the accepting thread to it cost more than the answer itself, and a
// wake-up on the other CPU each.  Here the thread that accepts a connection
// serves it: before it does, it hands the listeners to a thread that waits
// for them, starting a new one only when none waits.  The threads stay for
// the next connections until the server stops.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vorel::lab {

class ConnectionServer {
  public:
    using Job = std::function<void()>;
    // Called for each accepted connection, one at a time and in the order
    // of acceptance (so it can number and register the connection); the
    // job it returns serves the connection, alongside other connections.
    using Admit = std::function<Job(size_t listener, int fd)>;

    ConnectionServer() = default;
    ~ConnectionServer();
    ConnectionServer(const ConnectionServer &) = delete;
    ConnectionServer &operator=(const ConnectionServer &) = delete;

    // Starts accepting on the listeners (their indexes are what admit
    // gets).  false with errno set when they cannot be watched.
    bool start(const std::vector<int> &listeners, Admit admit);
    // After it returns no connection is accepted any more; the ones being
    // served go on.
    void stop_accepting();
    // Stops accepting and waits for every job to end: their sockets are to
    // be shut down first.
    void join();

  private:
    void run();
    // Another thread to wait for the listeners, when none waits (called by
    // the thread that holds them).
    void ensure_waiter();
    void start_thread();

    int epoll_fd_ = -1;
    std::vector<int> listeners_;
    Admit admit_;
    std::atomic<bool> stopping_{false};
    std::mutex listeners_mu_; // held by the one thread that waits on the listeners
    std::mutex threads_mu_;
    std::vector<std::thread> threads_;
    size_t waiting_ = 0; // threads waiting for the listeners; guarded by threads_mu_
};

} // namespace vorel::lab
