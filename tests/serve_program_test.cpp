// tovran-serve end to end over a loopback socket on a free port: its answers
// are tovran-model's to the digit, every refusal has its status and a JSON
// body, a reload under load loses no request and mixes no models, a slow
// client is cut off, SIGTERM answers what has arrived and exits 0.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/tovran.h"
#include "tests/fixtures.h"
#include "tests/program_runner.h"

namespace {

using namespace std::chrono_literals;

const std::string kSample = TOVRAN_SOURCE_DIR "/data/sample.txt";

// A port nothing listens on now.
int FreePort() {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(sock, reinterpret_cast<sockaddr *>(&address), &length);
  close(sock);
  return ntohs(address.sin_port);
}

// tovran-serve running on a free loopback port, its standard error in a
// file; stopped with SIGTERM at the end unless stopped before.
class Server {
 public:
  explicit Server(std::vector<std::string> args) : port_(FreePort()) {
    static int serial = 0;
    log_ = TempPath("serve" + std::to_string(serial++) + ".log");
    args.insert(args.begin(), TOVRAN_SERVE_PROGRAM);
    args.insert(args.end(), {"--port", std::to_string(port_)});
    pid_ = fork();
    if (pid_ == 0) {
      const int err = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, STDERR_FILENO);
      std::vector<char *> argv;
      for (std::string &arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    for (int tries = 0; tries < 400 && !Client().Get("/health"); tries++) {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(25ms);
    }
  }
  ~Server() { Stop(); }

  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30, 0);
    return client;
  }
  void Signal(int signal) const { kill(pid_, signal); }
  // Sends signal and returns the exit status (-1: not a normal exit).
  int Stop(int signal = SIGTERM) {
    if (pid_ > 0) {
      kill(pid_, signal);
      waitpid(pid_, &status_, 0);
      pid_ = -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }
  std::string Log() const { return ReadFile(log_); }

 private:
  int port_;
  pid_t pid_ = -1;
  int status_ = 0;
  std::string log_;
};

std::string Build(const std::string &data, const std::string &name,
                  const std::vector<std::string> &options) {
  const std::string model = TempPath(name);
  std::vector<std::string> args = {"build", data, model};
  args.insert(args.end(), options.begin(), options.end());
  const ProgramOutput built = RunProgram(TOVRAN_MODEL_PROGRAM, args);
  EXPECT_EQ(built.status, 0) << built.err;
  return model;
}

// tovran-model's answers (--json lines) as the server writes one answer per
// query: {"items": [...], "scores": [...]}, scores in the same digits.
std::vector<std::string> ModelAnswers(const std::vector<std::string> &args, size_t queries) {
  const ProgramOutput run = RunProgram(TOVRAN_MODEL_PROGRAM, args);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> items(queries), scores(queries);
  const std::regex line(R"(\{"query": ("?[^,]*"?), "rank": \d+, "item": (.*), "score": (.*)\})");
  std::istringstream in(run.out);
  std::map<std::string, size_t> order;
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, line)) << text;
    const size_t q = order.emplace(m[1], order.size()).first->second;
    if (q >= queries) continue;
    items[q] += (items[q].empty() ? "" : ", ") + m[2].str();
    scores[q] += (scores[q].empty() ? "" : ", ") + m[3].str();
  }
  std::vector<std::string> answers;
  for (size_t q = 0; q < queries; q++)
    answers.push_back("{\"items\": [" + items[q] + "], \"scores\": [" + scores[q] + "]}");
  return answers;
}

std::string Post(const Server &server, const std::string &path, const std::string &body) {
  const auto res = server.Client().Post(path, body, "application/json");
  EXPECT_TRUE(res) << path;
  return res ? std::to_string(res->status) + " " + res->body : "no answer";
}

std::string Get(const Server &server, const std::string &path) {
  const auto res = server.Client().Get(path);
  EXPECT_TRUE(res) << path;
  return res ? std::to_string(res->status) + " " + res->body : "no answer";
}

TEST(ServeProgram, AnswersAsTheModelProgramDoesToTheDigit) {
  // The converted sample: original ids through the maps beside the data.
  const std::string data = TempPath("serve-converted.txt");
  ASSERT_EQ(RunProgram(TOVRAN_CONVERT, {TOVRAN_SOURCE_DIR "/data/sample.udata", data}).status, 0);
  for (const char *kind : {"1", "2", "3"}) {
    SCOPED_TRACE(std::string("kind ") + kind);
    std::vector<std::string> options = {"--kind", kind};
    if (kind[0] == '2') options.insert(options.end(), {"--alpha", "0.4"});
    const std::string model = Build(data, std::string("serve-kind") + kind + ".tovran", options);
    for (const bool ids : {false, true}) {
      SCOPED_TRACE(ids ? "original ids" : "indices");
      std::vector<std::string> args = {model, "--data", data, "--quiet"};
      std::vector<std::string> common = {"--top", "4", "--json"};
      if (ids) {
        args.insert(args.end(), {"--ids", data});
        common.insert(common.end(), {"--ids", data});
      }
      Server server(args);
      ASSERT_TRUE(server.running());
      auto with = [&](std::vector<std::string> words) {
        words.insert(words.end(), common.begin(), common.end());
        return words;
      };
      // Item 25 is index 0 and user 1 is index 0; ids may be strings or numbers.
      const std::string user = ids ? "1" : "0";
      EXPECT_EQ(Get(server, "/recommend?user=" + user + "&n=4"),
                "200 " +
                    ModelAnswers(with({"recommend", model, "--user", user, "--data", data}), 1)[0] +
                    "\n");
      const std::string baskets =
          WriteTempFile("serve-baskets.txt", ids ? "25 3\n\n7,12,25,3\n" : "0 3\n\n7,12,0,3\n");
      std::vector<std::string> expected =
          ModelAnswers(with({"recommend", model, "--baskets", baskets}), 3);
      // The empty basket has no line in the program's output.
      expected = {expected[0], "{\"items\": [], \"scores\": []}", expected[1]};
      const std::string first = ids ? R"(["25", 3])" : R"([0, "3"])";
      const std::string third = ids ? R"([7, "12", "25", 3])" : "[7, 12, 0, 3]";
      EXPECT_EQ(Post(server, "/recommend", "{\"items\": " + first + ", \"n\": 4}"),
                "200 " + expected[0] + "\n");
      EXPECT_EQ(
          Post(server, "/recommend", "{\"n\": 4, \"baskets\": [" + first + ", [], " + third + "]}"),
          "200 {\"results\": [" + expected[0] + ", " + expected[1] + ", " + expected[2] + "]}\n");
      // Concurrent queries of one model (user-based ones then run on scratches
      // of their own) give the same answers.
      std::atomic<int> differ{0};
      std::vector<std::thread> clients;
      for (int t = 0; t < 4; t++)
        clients.emplace_back([&] {
          for (int r = 0; r < 25; r++)
            differ += Post(server, "/recommend", "{\"items\": " + third + ", \"n\": 4}") !=
                      "200 " + expected[2] + "\n";
        });
      for (std::thread &client : clients) client.join();
      EXPECT_EQ(differ.load(), 0);
      const std::string item = ids ? "25" : "0";
      if (kind[0] != '3') {
        EXPECT_EQ(Get(server, "/similar?item=" + item + "&n=4"),
                  "200 " + ModelAnswers(with({"similar", model, "--item", item}), 1)[0] + "\n");
      }
    }
  }
}

// The library's filtered answer for basket, as the server writes it.
std::string LibraryAnswer(const std::string &model_path, const std::vector<int32_t> &basket,
                          int32_t n, const TOVRAN_QueryOptions &options) {
  Model *model = TOVRAN_LoadModel(model_path.c_str());
  EXPECT_NE(model, nullptr) << TOVRAN_LastError();
  std::vector<int32_t> ids(size_t(n), 0);
  std::vector<float> scores(size_t(n), 0.0f);
  const int32_t m = TOVRAN_RecommendFiltered(model, int32_t(basket.size()), basket.data(), n,
                                             &options, ids.data(), scores.data());
  TOVRAN_FreeModel(model);
  EXPECT_GE(m, 0) << TOVRAN_LastError();
  std::string items, values;
  for (int32_t r = 0; r < m; r++) {
    char score[32] = "null";  // -infinity: a listed basket item
    if (std::isfinite(scores[size_t(r)]))
      std::snprintf(score, sizeof score, "%.9g", double(scores[size_t(r)]));
    if (r > 0) {
      items += ", ";
      values += ", ";
    }
    items += std::to_string(ids[size_t(r)]);
    values += score;
  }
  return "200 {\"items\": [" + items + "], \"scores\": [" + values + "]}\n";
}

TEST(ServeProgram, FiltersAnswerAsTheLibraryDoes) {
  // Kind 0 from the library (the model program builds kinds 1 to 3).
  const PairList pairs = PairsOfText(ReadFile(kSample));
  const TOVRAN_Params popular = TOVRAN_DefaultParams(TOVRAN_POPULAR);
  Model *built = TOVRAN_Build(pairs.nrows, pairs.ncols, int32_t(pairs.rows.size()),
                              pairs.rows.data(), pairs.cols.data(), &popular);
  ASSERT_NE(built, nullptr) << TOVRAN_LastError();
  const std::string kind0 = TempPath("serve-kind0.tovran");
  ASSERT_EQ(TOVRAN_SaveModel(built, kind0.c_str()), 0);
  TOVRAN_FreeModel(built);
  const std::vector<int32_t> basket = {3, 7, 9, 50};
  const int32_t filter[] = {0, 2, 5}, allowed[] = {9, 1, 0, 4, 119, 2, 9};
  struct Case {
    const char *fields;
    TOVRAN_QueryOptions options;
  };
  const Case cases[] = {
      {R"("filter_items": [0, 2, 5])", {filter, 3, nullptr, 0, 0, 0}},
      {R"("allowed_items": [9, 1, 0, 4, 119, 2, 9])", {nullptr, 0, allowed, 7, 0, 0}},
      {R"("filter_already_liked_items": false)", {nullptr, 0, nullptr, 0, 1, 0}},
      {R"("filter_items": [0, 2, 5], "fallback": true, "filter_already_liked_items": false)",
       {filter, 3, nullptr, 0, 1, 1}},
      {R"("allowed_items": [9, 1, 0, 4, 119, 2, 9], "fallback": true)",
       {nullptr, 0, allowed, 7, 0, 1}},
      {R"("allowed_items": [])", {nullptr, 0, filter, 0, 0, 0}},
  };
  for (const std::string &model : {kind0, Build(kSample, "serve-filter1.tovran", {"--kind", "1"}),
                                   Build(kSample, "serve-filter3.tovran", {"--kind", "3"})}) {
    Server server({model, "--quiet"});
    ASSERT_TRUE(server.running());
    for (const Case &c : cases)
      EXPECT_EQ(Post(server, "/recommend",
                     std::string(R"({"items": [3, 7, 9, 50], "n": 30, )") + c.fields + "}"),
                LibraryAnswer(model, basket, 30, c.options))
          << model << " " << c.fields;
  }
  // A model file of format version 1 carries no popularity ranking.
  Server old({TOVRAN_SOURCE_DIR "/tests/models_v1/sample_kind1.tovran", "--quiet"});
  const std::string refused = Post(old, "/recommend", R"({"items": [1], "fallback": true})");
  EXPECT_EQ(refused.substr(0, 4), "400 ");
  EXPECT_NE(refused.find("no popularity ranking"), std::string::npos) << refused;
}

TEST(ServeProgram, EveryRefusalHasItsStatusAndAJsonBody) {
  const std::string model = Build(kSample, "serve-refusals.tovran", {"--kind", "1"});
  const std::string users = Build(kSample, "serve-refusals3.tovran", {"--kind", "3"});
  Server server({model, "--data", kSample, "--max-body", "2000", "--max-basket", "5", "--max-batch",
                 "2", "--max-n", "50", "--quiet"});
  ASSERT_TRUE(server.running());
  struct Case {
    const char *method, *path, *body;
    int status;
    const char *message;
  };
  const std::string large(2001, ' ');
  const Case cases[] = {
      {"POST", "/recommend", "{\"items\": [1, 2", 400, "not valid JSON"},
      {"POST", "/recommend", "[1, 2]", 400, "must be a JSON object"},
      {"POST", "/recommend", "{\"items\": [1], \"basket\": [2]}", 400, "unknown field 'basket'"},
      {"POST", "/recommend", "{\"n\": 3}", 400, "exactly one of items, baskets and user"},
      {"POST", "/recommend", "{\"items\": [1], \"user\": 2}", 400, "exactly one"},
      {"POST", "/recommend", "{\"items\": [1.5]}", 400, "items[0]: an id is"},
      {"POST", "/recommend", "{\"items\": 7}", 400, "items: must be an array"},
      {"POST", "/recommend", "{\"items\": [120]}", 404, "item '120' is not among"},
      {"POST", "/recommend", "{\"items\": [\"-1\"]}", 404, "item '-1' is not among"},
      {"POST", "/recommend", "{\"items\": [\"1e3\"]}", 400, "item '1e3' is not an item index"},
      {"POST", "/recommend", "{\"items\": [1,2,3,4,5,6]}", 400, "6 ids, more than the limit of 5"},
      {"POST", "/recommend", "{\"baskets\": [[1], [2], [3]]}", 400, "3 baskets, more than"},
      {"POST", "/recommend", "{\"baskets\": [[1], [2, 999]]}", 404, "baskets[1][1]: item '999'"},
      {"POST", "/recommend", "{\"items\": [1], \"n\": 0}", 400, "n: 0 lies outside 1..50"},
      {"POST", "/recommend", "{\"items\": [1], \"n\": 51}", 400, "n: 51 lies outside"},
      {"POST", "/recommend", "{\"items\": [1], \"n\": 18446744073709551615}", 400, "lies outside"},
      {"POST", "/recommend", "{\"items\": [1], \"n\": \"3\"}", 400, "n: must be an integer"},
      {"POST", "/recommend", "{\"items\": [1], \"filter_items\": [1, 120]}", 404,
       "filter_items[1]: item '120'"},
      {"POST", "/recommend", "{\"items\": [1], \"fallback\": 1}", 400, "fallback: must be"},
      {"POST", "/recommend", "{\"user\": 300}", 404, "user: '300' is not among"},
      {"POST", "/recommend", "{\"user\": [1]}", 400, "user: an id is"},
      {"POST", "/recommend?n=3", "{\"items\": [1]}", 400, "takes no query parameters"},
      {"POST", "/recommend", large.c_str(), 413, "larger than --max-body"},
      {"GET", "/recommend?user=1&n=-2", "", 400, "n: -2 lies outside"},
      {"GET", "/recommend?user=1&n=ten", "", 400, "n: 'ten' is not an integer"},
      {"GET", "/recommend?user=1&top=3", "", 400, "unknown parameter 'top'"},
      {"GET", "/recommend?user=1&user=2", "", 400, "given more than once"},
      {"GET", "/recommend", "", 400, "user: missing"},
      {"GET", "/recommend?user=x", "", 404, "user: 'x' is not among"},
      {"GET", "/similar?item=120", "", 404, "item '120' is not among"},
      {"GET", "/similar?n=3", "", 400, "item: missing"},
      {"GET", "/nowhere", "", 404, "no such endpoint: /nowhere"},
      {"DELETE", "/recommend", "", 405, "DELETE is not allowed here (GET, POST)"},
      {"PUT", "/health", "{}", 405, "PUT is not allowed here (GET)"},
      {"GET", "/reload", "", 405, "GET is not allowed here (POST)"},
      {"POST", "/reload", "", 403, "needs the server started with --admin"},
  };
  httplib::Client client = server.Client();
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + std::string(c.body).substr(0, 40));
    httplib::Result res =
        c.method == std::string("GET")    ? client.Get(c.path)
        : c.method == std::string("POST") ? client.Post(c.path, c.body, "application/json")
        : c.method == std::string("PUT")  ? client.Put(c.path, c.body, "application/json")
                                          : client.Delete(c.path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(res->body.rfind("{\"error\": \"", 0), 0u) << res->body;
    EXPECT_NE(res->body.find(c.message), std::string::npos) << res->body;
  }
  // Still serving after every refusal; the user-based model has no similar items.
  EXPECT_EQ(Get(server, "/health"), "200 {\"status\": \"ok\", \"generation\": 1}\n");
  Server user_server({users, "--quiet"});
  EXPECT_EQ(Get(user_server, "/similar?item=1").substr(0, 4), "400 ");
  EXPECT_NE(Get(user_server, "/recommend?user=1").find("start it with --data DATA"),
            std::string::npos);
  // A model file that cannot be read: one line and status 1 at start.
  Server broken({TOVRAN_SOURCE_DIR "/tests/bad_models/truncated.tovran"});
  EXPECT_FALSE(broken.running());
  EXPECT_NE(broken.Log().find("truncated"), std::string::npos) << broken.Log();
}

TEST(ServeProgram, ReloadUnderLoadLosesNoRequestAndMixesNoModels) {
  const std::string first = Build(kSample, "serve-first.tovran", {"--kind", "1"});
  const std::string second =
      Build(kSample, "serve-second.tovran", {"--kind", "2", "--alpha", "0.5"});
  const std::string served = TempPath("serve-served.tovran");
  namespace fs = std::filesystem;
  auto put = [&](const std::string &from) {
    fs::copy_file(from, served + ".new", fs::copy_options::overwrite_existing);
    fs::rename(served + ".new", served);
  };
  put(first);
  Server server({served, "--admin", "--quiet", "--threads", "4"});
  ASSERT_TRUE(server.running());
  const std::string request = R"({"baskets": [[3, 7, 9], [5], [1, 2, 3, 4, 5, 6]], "n": 5})";
  std::map<std::string, std::string> answer_of;  // model file -> its answer
  answer_of[first] = Post(server, "/recommend", request);
  put(second);
  ASSERT_EQ(Post(server, "/reload", "").substr(0, 4), "200 ");
  answer_of[second] = Post(server, "/recommend", request);
  ASSERT_NE(answer_of[first], answer_of[second]);
  std::map<std::string, std::string> model_of = {{"1", first}, {"2", second}};

  std::atomic<bool> stop{false};
  std::atomic<int> answered{0}, wrong{0};
  std::mutex generations;
  std::vector<std::thread> clients;
  for (int t = 0; t < 3; t++)
    clients.emplace_back([&] {
      httplib::Client client = server.Client();
      while (!stop) {
        const auto res = client.Post("/recommend", request, "application/json");
        std::lock_guard<std::mutex> lock(generations);
        const std::string generation = res ? res->get_header_value("Tovran-Model-Generation") : "";
        if (!res || model_of.count(generation) == 0 ||
            std::to_string(res->status) + " " + res->body != answer_of[model_of[generation]])
          wrong++;
        answered++;
      }
    });
  // Reloads by SIGHUP and by POST, alternating the two models, and one of a
  // damaged file, which leaves the model before serving.
  int generation = 2;
  for (int round = 0; round < 6; round++) {
    const std::string &next = round % 2 == 0 ? first : second;
    {
      std::lock_guard<std::mutex> lock(generations);
      model_of[std::to_string(generation + 1)] = next;
    }
    put(next);
    if (round % 3 == 0) {
      server.Signal(SIGHUP);
      for (int tries = 0; tries < 200; tries++) {
        if (Get(server, "/health").find("\"generation\": " + std::to_string(generation + 1)) !=
            std::string::npos)
          break;
        std::this_thread::sleep_for(10ms);
      }
    } else {
      EXPECT_EQ(Post(server, "/reload", "").substr(0, 4), "200 ");
    }
    generation++;
    std::this_thread::sleep_for(100ms);
    if (round == 3) {
      fs::copy_file(TOVRAN_SOURCE_DIR "/tests/bad_models/checksum_mismatch.tovran", served + ".new",
                    fs::copy_options::overwrite_existing);
      fs::rename(served + ".new", served);
      const std::string failed = Post(server, "/reload", "");
      EXPECT_EQ(failed.substr(0, 4), "500 ");
      EXPECT_NE(failed.find("checksum mismatch"), std::string::npos) << failed;
      put(next);
    }
  }
  std::this_thread::sleep_for(100ms);
  stop = true;
  for (std::thread &client : clients) client.join();
  EXPECT_GT(answered.load(), 30);
  EXPECT_EQ(wrong.load(), 0);
  const std::string info = Get(server, "/info");
  EXPECT_NE(info.find("\"generation\": 8"), std::string::npos) << info;
  EXPECT_NE(info.find("\"failed_reloads\": 1"), std::string::npos) << info;
  EXPECT_NE(Get(server, "/metrics").find("tovran_model_reloads_total{result=\"failed\"} 1\n"),
            std::string::npos);
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_NE(server.Log().find("RELOAD failed, generation 6 keeps serving: Model file"),
            std::string::npos)
      << server.Log();
}

TEST(ServeProgram, SigtermAnswersTheRequestInFlightAndExitsZero) {
  const std::string data = GeneratedData();
  const std::string model = Build(data, "serve-drain.tovran", {"--kind", "3"});
  Server server({model, "--max-batch", "1000000", "--max-body", "100000000", "--timeout", "600"});
  ASSERT_TRUE(server.running());
  // A batch long enough to be under way at the signal even on a quiet
  // machine (30,000 baskets took under 300 ms there), with a deadline the
  // sanitizers' slower answer stays within.
  std::string request = "{\"n\": 10, \"baskets\": [";
  for (int b = 0; b < 80000; b++) {
    request += b > 0 ? ", [" : "[";
    for (int k = 0; k < 8; k++)
      request += (k > 0 ? ", " : "") + std::to_string((b * 7 + k * 131) % 1200);
    request += "]";
  }
  request += "]}";
  std::string answer;
  std::thread client([&] { answer = Post(server, "/recommend", request); });
  std::this_thread::sleep_for(300ms);
  server.Signal(SIGTERM);
  client.join();
  EXPECT_EQ(answer.substr(0, 16), "200 {\"results\": ");
  EXPECT_EQ(answer.substr(answer.size() - 3), "]}\n");
  EXPECT_EQ(server.Stop(), 0);
  const std::string log = server.Log();
  EXPECT_LT(log.find("stopping"), log.find("POST /recommend 200")) << log;
  EXPECT_NE(log.find("tovran-serve: stopped"), std::string::npos);
}

TEST(ServeProgram, SlowClientIsCutOffAtTheDeadline) {
  const std::string model = Build(kSample, "serve-slow.tovran", {"--kind", "1"});
  Server server({model, "--timeout", "1", "--quiet"});
  ASSERT_TRUE(server.running());
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(uint16_t(server.port()));
  ASSERT_EQ(connect(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  // A byte every 200 ms: each read is quick, the whole request never ends.
  const std::string request = "GET /health HTTP/1.1\r\nHost: x\r\nX-Slow: aaaaaaaaaaaaaaaa\r\n";
  const auto start = std::chrono::steady_clock::now();
  size_t sent = 0;
  while (sent < request.size() && send(sock, &request[sent], 1, MSG_NOSIGNAL) == 1) {
    sent++;
    std::this_thread::sleep_for(200ms);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(sock);
  EXPECT_LT(sent, request.size());
  EXPECT_LT(seconds, 4.0);
  EXPECT_EQ(Get(server, "/health").substr(0, 4), "200 ");
}

TEST(ServeProgram, TheReadmesCurlLinesAnswerAsShown) {
  if (RunCommand("command -v curl").status != 0) GTEST_SKIP() << "curl is not installed";
  // The README's commands: build a model, start the server, then "$ curl ..."
  // lines, each followed by the answer it shows.
  std::istringstream readme(ReadFile(TOVRAN_SOURCE_DIR "/README.md"));
  const std::string model = TempPath("readme.tovran");
  std::vector<std::string> serve_args;
  std::vector<std::pair<std::string, std::string>> shown;  // command, answer
  for (std::string line; std::getline(readme, line);) {
    auto words_after = [&](const std::string &prefix) {
      std::vector<std::string> words;
      std::istringstream rest(line.substr(prefix.size()));
      for (std::string word; rest >> word && word != "&";)
        words.push_back(word == "sample.tovran" ? model : word);
      return words;
    };
    if (line.rfind("    build/tovran-model build ", 0) == 0) {
      std::vector<std::string> args = words_after("    build/tovran-model ");
      const ProgramOutput built =
          RunProgram(TOVRAN_MODEL_PROGRAM, args, "cd " + ShellQuote(TOVRAN_SOURCE_DIR) + " && ");
      ASSERT_EQ(built.status, 0) << line << "\n" << built.err;
    } else if (line.rfind("    build/tovran-serve ", 0) == 0) {
      serve_args = words_after("    build/tovran-serve ");
      for (std::string &arg : serve_args)
        if (arg.rfind("data/", 0) == 0) arg = TOVRAN_SOURCE_DIR "/" + arg;
    } else if (line.rfind("    $ curl ", 0) == 0) {
      shown.emplace_back(line.substr(6), "");
    } else if (!shown.empty() && line.rfind("    ", 0) == 0 && shown.back().second.empty()) {
      shown.back().second = line.substr(4) + "\n";
    }
  }
  ASSERT_FALSE(serve_args.empty());
  ASSERT_GE(shown.size(), 5u);
  serve_args.push_back("--quiet");
  Server server(serve_args);
  ASSERT_TRUE(server.running());
  for (auto [command, answer] : shown) {
    const size_t at = command.find("localhost:8080");
    ASSERT_NE(at, std::string::npos) << command;
    command.replace(at, 14, "127.0.0.1:" + std::to_string(server.port()));
    const ProgramOutput run = RunCommand(command);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_EQ(run.out, answer) << command;
  }
}

}  // namespace
