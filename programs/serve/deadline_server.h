#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

// An HTTP server whose every request must arrive and be answered within a
// deadline, so that a slow client cannot hold a worker for longer: the
// library's own timeouts bound each read and write but not their number.
// It also keeps each connection's pending bytes between requests, and a
// stopped server (stop()) ends each connection after its request in flight.
class DeadlineServer : public httplib::Server {
 public:
  using Clock = std::chrono::steady_clock;

  explicit DeadlineServer(std::chrono::milliseconds request_timeout)
      : request_timeout_(request_timeout) {}

  // Binds host:port (port 0: any free port) with a listen queue deep enough
  // for many clients connecting at once. Returns the port, or -1.
  int Bind(const std::string &host, int port);

  // When the request being answered on the calling thread arrived.
  static Clock::time_point RequestStart();

 private:
  bool process_and_close_socket(socket_t sock) override;

  std::chrono::milliseconds request_timeout_;
};
