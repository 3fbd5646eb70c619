#include "programs/serve/deadline_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

using Clock = DeadlineServer::Clock;

thread_local Clock::time_point request_start;

// How often a connection waiting for its next request looks whether the
// server is stopping.
constexpr std::chrono::milliseconds kStopCheck{50};

void AddressOf(int sock, bool peer, std::string &ip, int &port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int got = peer ? getpeername(sock, reinterpret_cast<sockaddr *>(&address), &length)
                       : getsockname(sock, reinterpret_cast<sockaddr *>(&address), &length);
  if (got != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

// One connection's socket, read through a buffer (the request line and
// headers are read a byte at a time), every wait bounded by the io timeout
// and by the deadline of the request under way.
class DeadlineStream : public httplib::Stream {
 public:
  DeadlineStream(int sock, std::chrono::milliseconds io_timeout)
      : sock_(sock), io_timeout_(io_timeout) {}

  void SetDeadline(Clock::time_point deadline) { deadline_ = deadline; }
  bool Buffered() const { return begin_ < end_; }

  // Waits for events until the io timeout or the deadline; whether they came.
  bool Wait(short events) const {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{sock_, events, 0};
      const int ready = poll(&fd, 1, int(std::min(left, io_timeout_).count()));
      if (ready > 0) return true;
      if (ready == 0 || errno != EINTR) return false;
    }
  }

  bool is_readable() const override { return Buffered() || Wait(POLLIN); }
  bool is_writable() const override { return Wait(POLLOUT); }

  // Reads and writes try the socket first and wait only when it is not
  // ready: one system call per step on a busy connection instead of two.
  ssize_t read(char *ptr, size_t size) override {
    if (!Buffered()) {
      const bool direct = size >= sizeof buffer_;
      const ssize_t got = Transfer(POLLIN, direct ? ptr : buffer_, direct ? size : sizeof buffer_);
      if (got <= 0 || direct) return got;
      begin_ = 0;
      end_ = size_t(got);
    }
    const size_t n = std::min(size, end_ - begin_);
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return ssize_t(n);
  }

  ssize_t write(const char *ptr, size_t size) override {
    return Transfer(POLLOUT, const_cast<char *>(ptr), size);
  }

  // Both addresses are asked for on every request; the socket's stay put.
  void get_remote_ip_and_port(std::string &ip, int &port) const override {
    if (remote_port_ < 0) AddressOf(sock_, true, remote_ip_, remote_port_);
    ip = remote_ip_;
    port = remote_port_;
  }
  void get_local_ip_and_port(std::string &ip, int &port) const override {
    if (local_port_ < 0) AddressOf(sock_, false, local_ip_, local_port_);
    ip = local_ip_;
    port = local_port_;
  }
  socket_t socket() const override { return sock_; }

 private:
  // One recv (POLLIN) or send (POLLOUT) that does not block, waiting for the
  // socket in between while it is not ready.
  ssize_t Transfer(short events, char *ptr, size_t size) const {
    for (;;) {
      const ssize_t done = events == POLLIN ? recv(sock_, ptr, size, MSG_DONTWAIT)
                                            : send(sock_, ptr, size, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (done >= 0) return done;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(events)) return -1;
    }
  }

  int sock_;
  std::chrono::milliseconds io_timeout_;
  Clock::time_point deadline_ = Clock::now();
  mutable std::string remote_ip_, local_ip_;
  mutable int remote_port_ = -1, local_port_ = -1;
  char buffer_[4096];
  size_t begin_ = 0, end_ = 0;
};

}  // namespace

int DeadlineServer::Bind(const std::string &host, int port) {
  const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
  if (bound < 0) return -1;
  // The library listens with a queue of five; clients beyond it would wait
  // for their connection to be retried.
  ::listen(svr_sock_, 1024);
  return bound;
}

Clock::time_point DeadlineServer::RequestStart() { return request_start; }

bool DeadlineServer::process_and_close_socket(socket_t sock) {
  DeadlineStream stream(sock, std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::seconds(read_timeout_sec_) +
                                  std::chrono::microseconds(read_timeout_usec_)));
  bool ok = false;
  for (size_t left = keep_alive_max_count_; left > 0; left--) {
    // The next request, within the keep-alive timeout. Once the server stops,
    // only a request that has already arrived is answered, on a connection
    // that then closes.
    const auto idle_until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    bool arrived = stream.Buffered();
    while (!arrived && svr_sock_ != INVALID_SOCKET && Clock::now() < idle_until) {
      stream.SetDeadline(std::min(idle_until, Clock::now() + kStopCheck));
      arrived = stream.Wait(POLLIN);
    }
    const bool stopping = svr_sock_ == INVALID_SOCKET;
    if (!arrived && stopping) {
      pollfd fd{sock, POLLIN, 0};
      arrived = poll(&fd, 1, 0) > 0;
    }
    if (!arrived) break;
    request_start = Clock::now();
    stream.SetDeadline(request_start + request_timeout_);
    bool closed = false;
    ok = process_request(stream, left == 1 || stopping, closed, nullptr);
    if (!ok || closed || stopping) break;
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return ok;
}
