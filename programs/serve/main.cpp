// tovran-serve: answers recommendation requests over HTTP from a model file.
//
//   tovran-serve MODEL [--host 127.0.0.1] [--port 8080] [--threads N] [--ids DATA]
//                [--data DATA] [--max-body BYTES] [--max-basket K] [--max-batch B]
//                [--max-n N] [--timeout SECONDS] [--admin] [--quiet]
//
// SIGHUP reloads the model (and the files of --ids and --data); SIGTERM and
// SIGINT stop taking connections, answer the requests that have arrived and
// exit with status 0. A model that cannot be read at start is one line on
// standard error and status 1.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "cli/command_line.h"
#include "programs/serve/deadline_server.h"
#include "programs/serve/model_slot.h"
#include "programs/serve/routes.h"

namespace {

constexpr const char *kProgram = "tovran-serve";

struct ServeOptions {
  ServeSources sources;
  std::string host = "127.0.0.1";
  int32_t port = 8080;
  int32_t threads = 64;
  int32_t max_body = 1 << 20;
  int32_t timeout = 10;
  RouteSettings routes;
};

std::optional<int> ParseOptions(int argc, const char *const *argv, ServeOptions *options) {
  ServeOptions &o = *options;
  cli::CommandLine line(kProgram, "MODEL",
                        "Answers recommendation requests over HTTP from the model file MODEL.");
  line.Value("--host", "ADDRESS", "address to listen on (127.0.0.1: this machine only)",
             cli::TextTo(&o.host));
  line.Value("--port", "PORT", "port to listen on (8080; 0: any free port)",
             cli::IntTo(&o.port, 0, 65535));
  line.Value("--threads", "N", "worker threads, each serving one connection at a time (64)",
             cli::IntTo(&o.threads, 1, 1024));
  line.Value("--ids", "DATA", "ids are the original ids of DATA.users and DATA.items",
             cli::TextTo(&o.sources.ids_data));
  line.Value("--data", "DATA", "the dataset whose users' baskets GET /recommend?user= answers",
             cli::TextTo(&o.sources.user_data));
  line.Value("--max-body", "BYTES", "largest request body (1048576)",
             cli::IntTo(&o.max_body, 1, INT32_MAX));
  line.Value("--max-basket", "K", "most items in a basket or filter list (10000)",
             cli::IntTo(&o.routes.limits.max_basket, 1, INT32_MAX));
  line.Value("--max-batch", "B", "most baskets in one request (1000)",
             cli::IntTo(&o.routes.limits.max_batch, 1, 1000000));
  line.Value("--max-n", "N", "most answers per basket (1000)",
             cli::IntTo(&o.routes.limits.max_n, 1, 1000000));
  line.Value("--timeout", "SECONDS",
             "time a request has to arrive and be answered, and the keep-alive wait (10)",
             cli::IntTo(&o.timeout, 1, 3600));
  line.Flag("--admin", "allow POST /reload", &o.routes.admin);
  line.Flag("--quiet", "no line per request on standard error", &o.routes.quiet);
  line.Epilogue(
      "Endpoints: GET /recommend?user=ID&n=N, POST /recommend, GET /similar?item=ID&n=N,\n"
      "GET /health, GET /info, GET /metrics, POST /reload (with --admin).\n"
      "SIGHUP reloads MODEL; SIGTERM answers the requests in flight and exits.");
  line.Operands(1, 1);
  if (const std::optional<int> status = line.Parse(argc, argv)) return status;
  o.sources.model = line.operands()[0];
  return std::nullopt;
}

// Handles the signals the main thread blocked: SIGHUP reloads, SIGTERM and
// SIGINT stop the server (once it runs), SIGUSR1 ends the thread.
void HandleSignals(sigset_t signals, DeadlineServer *server, ModelSlot *slot,
                   const std::atomic<bool> *done) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0 || signal == SIGUSR1) return;
    if (signal == SIGHUP) {
      ReloadAndLog(slot);
      continue;
    }
    std::fprintf(stderr, "%s: stopping; answering the requests that have arrived\n", kProgram);
    while (!server->is_running() && !*done)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    server->stop();
    return;
  }
}

int Serve(const ServeOptions &options, sigset_t signals) {
  ModelSlot slot(options.sources);
  Metrics metrics;
  DeadlineServer server(std::chrono::seconds(options.timeout));
  server.new_task_queue = [threads = options.threads] {
    return new httplib::ThreadPool(size_t(threads));
  };
  server.set_payload_max_length(size_t(options.max_body));
  server.set_read_timeout(options.timeout, 0);
  server.set_write_timeout(options.timeout, 0);
  server.set_keep_alive_timeout(std::min(options.timeout, 5));
  server.set_keep_alive_max_count(1000);
  server.set_tcp_nodelay(true);
  AddRoutes(&server, &slot, &metrics, options.routes);
  const int port = server.Bind(options.host, options.port);
  if (port < 0) {
    std::fprintf(stderr, "%s: cannot listen on %s:%d\n", kProgram, options.host.c_str(),
                 options.port);
    return 1;
  }
  std::atomic<bool> done{false};
  std::thread signal_thread(HandleSignals, signals, &server, &slot, &done);
  std::fprintf(stderr, "%s: serving %s (kind %d, %d items) on http://%s:%d\n", kProgram,
               options.sources.model.c_str(), slot.Current()->info().params.kind,
               slot.Current()->info().nitems, options.host.c_str(), port);
  const bool listened = server.listen_after_bind();
  done = true;
  pthread_kill(signal_thread.native_handle(), SIGUSR1);
  signal_thread.join();
  std::fprintf(stderr, "%s: stopped\n", kProgram);
  return listened ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  std::set_new_handler(nullptr);  // exhausted memory: std::bad_alloc, answered or reported
  // Signals go to the thread that waits for them; a client that goes away
  // mid-answer is an error on its connection, not the end of the server.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int s : {SIGHUP, SIGTERM, SIGINT, SIGUSR1}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  ServeOptions options;
  if (const std::optional<int> status = ParseOptions(argc, argv, &options)) return *status;
  try {
    return Serve(options, signals);
  } catch (const Failure &failure) {
    std::fprintf(stderr, "%s: %s\n", kProgram, failure.message.c_str());
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "%s: ***Memory allocation failed\n", kProgram);
  }
  return 1;
}
