#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 whose every connection is answered by a script:
// a function that gets the request's head and talks back through a Peer
// (any bytes, at any pace, TLS or not, see tls_peer.h). Each connection has
// a thread of its own; the destructor stops them all within a tenth of a
// second, so a script that drips forever ends with the test.
class ScriptServer {
 public:
  class Peer {
   public:
    virtual ~Peer() = default;
    // False once the client has gone or the server is stopping.
    virtual bool Send(const std::string& bytes) = 0;
    // Waits, unless the server is stopping; false then.
    bool Pause(int ms) {
      for (int waited = 0; waited < ms; waited += 20) {
        if (stopping->load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(20, ms - waited)));
      }
      return !stopping->load();
    }
    const std::atomic<bool>* stopping = nullptr;
  };
  using Script = std::function<void(const std::string& request, Peer& peer)>;
  // Wraps an accepted socket into a Peer that reads the request; null to drop it.
  using Wrap = std::function<std::unique_ptr<Peer>(int fd, std::string* request)>;

  explicit ScriptServer(Script script, Wrap wrap = {})
      : script_(std::move(script)), wrap_(wrap ? std::move(wrap) : PlainWrap()) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~ScriptServer() {
    stopping_ = true;
    acceptor_.join();
    std::vector<std::thread> threads;
    {
      const std::lock_guard lock(mutex_);
      for (const int fd : open_) ::shutdown(fd, SHUT_RDWR);
      threads.swap(threads_);
    }
    for (std::thread& thread : threads) thread.join();
    ::close(listener_);
  }

  int port() const { return port_; }
  std::string Url(const std::string& path = "/clip.flv", const char* scheme = "http") const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Connections() const { return connections_; }
  // Every request head received, in order.
  std::vector<std::string> Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

  // Reads a request head from a plain socket.
  static bool ReadHead(const std::function<int(char*, int)>& read, std::string* head,
                       const std::atomic<bool>& stopping) {
    char c;
    while (head->find("\r\n\r\n") == std::string::npos && head->size() < 65536) {
      const int got = read(&c, 1);
      if (got == 1) {
        *head += c;
      } else if (got < 0 || stopping) {
        return false;
      }
    }
    return true;
  }

 private:
  class PlainPeer : public Peer {
   public:
    explicit PlainPeer(int fd) : fd_(fd) {}
    bool Send(const std::string& bytes) override {
      size_t at = 0;
      while (at < bytes.size()) {
        if (stopping->load()) return false;
        const ssize_t sent = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        at += size_t(sent);
      }
      return true;
    }

   private:
    int fd_;
  };

  Wrap PlainWrap() {
    return [this](int fd, std::string* request) -> std::unique_ptr<Peer> {
      const auto read = [&](char* c, int n) -> int {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0) return 0;
        const ssize_t got = ::recv(fd, c, size_t(n), 0);
        return got > 0 ? int(got) : -1;
      };
      if (!ReadHead(read, request, stopping_)) return nullptr;
      return std::make_unique<PlainPeer>(fd);
    };
  }

  void AcceptLoop() {
    while (!stopping_) {
      pollfd entry{listener_, POLLIN, 0};
      if (::poll(&entry, 1, 50) <= 0) continue;
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections_;
      const std::lock_guard lock(mutex_);
      open_.push_back(fd);
      threads_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  void Serve(int fd) {
    std::string request;
    std::unique_ptr<Peer> peer = wrap_(fd, &request);
    if (peer) {
      peer->stopping = &stopping_;
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      script_(request, *peer);
      peer.reset();
    }
    const std::lock_guard lock(mutex_);
    std::erase(open_, fd);
    ::close(fd);
  }

  Script script_;
  Wrap wrap_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<int> open_;
  std::vector<std::thread> threads_;
  std::vector<std::string> requests_;
};
