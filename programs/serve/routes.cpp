#include "programs/serve/routes.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "programs/serve/answer_json.h"
#include "programs/serve/deadline_server.h"
#include "util/json_writer.h"

namespace {

constexpr const char *kJson = "application/json";
constexpr const char *kKindNames[] = {"popularity", "item-cosine", "item-cprob", "user-based"};
constexpr const char *kWeightingNames[] = {"binary", "raw", "log", "bm25", "tfidf"};

void Refuse(httplib::Response &res, const RequestError &error) {
  res.status = error.status;
  res.set_content(ErrorJson(error.status, error.message), kJson);
}

// Refuses query parameters on a POST (a form-encoded body would count as
// parameters too, so the target is read).
std::optional<RequestError> CheckNoParams(const httplib::Request &req) {
  if (req.target.find('?') != std::string::npos)
    return RequestError{400, "POST " + ShownId(req.path) + " takes no query parameters"};
  return std::nullopt;
}

// Refuses a parameter outside allowed, or one given twice.
std::optional<RequestError> CheckParams(const httplib::Request &req,
                                        std::initializer_list<const char *> allowed) {
  for (const auto &param : req.params) {
    const std::string &name = param.first;
    if (std::none_of(allowed.begin(), allowed.end(), [&](const char *a) { return name == a; }))
      return RequestError{400, "unknown parameter '" + ShownId(name) + "'"};
    if (req.get_param_value_count(name) > 1)
      return RequestError{400, "parameter '" + name + "' given more than once"};
  }
  return std::nullopt;
}

// Writes one line on standard error with one write, so that lines of
// concurrent requests never interleave.
void LogLine(const std::string &line) {
  std::string text = line + "\n";
  for (size_t at = 0; at < text.size();) {
    const ssize_t written = ::write(STDERR_FILENO, text.data() + at, text.size() - at);
    if (written <= 0) return;
    at += size_t(written);
  }
}

// text for a log line: control bytes (a decoded path may hold a newline)
// shown as '?', and cut short as ShownId does.
std::string Printable(const std::string &text) {
  std::string out = ShownId(text);
  for (char &c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return out;
}

class Routes {
 public:
  Routes(ModelSlot *slot, const RouteSettings &settings) : slot_(slot), settings_(settings) {}

  void RecommendForUser(const httplib::Request &req, httplib::Response &res) const {
    if (auto error = CheckParams(req, {"user", "n"})) return Refuse(res, *error);
    if (!req.has_param("user")) return Refuse(res, {400, "user: missing"});
    BasketQuery query;
    query.user = req.get_param_value("user");
    if (req.has_param("n"))
      if (auto error = ParseCount(req.get_param_value("n"), settings_.limits.max_n, &query.n))
        return Refuse(res, *error);
    Answer(*slot_->Current(), query, res);
  }

  void RecommendForBody(const httplib::Request &req, httplib::Response &res) const {
    if (auto error = CheckNoParams(req)) return Refuse(res, *error);
    const std::shared_ptr<const ServedModel> model = slot_->Current();
    BasketQuery query;
    if (auto error = ParseBasketQuery(req.body, model->item_ids(), settings_.limits, &query))
      return Refuse(res, *error);
    Answer(*model, query, res);
  }

  void Similar(const httplib::Request &req, httplib::Response &res) const {
    if (auto error = CheckParams(req, {"item", "n"})) return Refuse(res, *error);
    if (!req.has_param("item")) return Refuse(res, {400, "item: missing"});
    const std::shared_ptr<const ServedModel> model = slot_->Current();
    const int32_t kind = model->info().params.kind;
    if (kind != TOVRAN_ITEM_COSINE && kind != TOVRAN_ITEM_CPROB)
      return Refuse(res, {400, "similar items need an item model (kind 1 or 2); this is kind " +
                                   std::to_string(kind)});
    BasketQuery query;
    query.baskets.emplace_back(1);
    if (auto error = ParseItemId(req.get_param_value("item"), model->item_ids(), "item",
                                 &query.baskets[0][0]))
      return Refuse(res, *error);
    if (req.has_param("n"))
      if (auto error = ParseCount(req.get_param_value("n"), settings_.limits.max_n, &query.n))
        return Refuse(res, *error);
    Answer(*model, query, res);
  }

  void Health(const httplib::Request &, httplib::Response &res) const {
    res.set_content("{\"status\": \"ok\", \"generation\": " +
                        std::to_string(slot_->Current()->generation()) + "}\n",
                    kJson);
  }

  void Info(const httplib::Request &, httplib::Response &res) const {
    const std::shared_ptr<const ServedModel> model = slot_->Current();
    const TOVRAN_ModelInfo &info = model->info();
    const int32_t kind = info.params.kind;
    std::string out = "{\"kind\": " + std::to_string(kind) + ", \"kind_name\": " +
                      JsonString(kind >= 0 && kind <= 3 ? kKindNames[kind] : "unknown");
    out += ", \"nnbr\": " + std::to_string(info.params.nnbr);
    out += ", \"alpha\": " + JsonFloat(info.params.alpha);
    out += ", \"min_support\": " + std::to_string(info.params.min_support);
    const int32_t weighting = info.params.weighting;
    out += ", \"weighting\": " +
           JsonString(weighting >= 0 && weighting <= 4 ? kWeightingNames[weighting] : "unknown");
    if (weighting == TOVRAN_WEIGHT_BM25)
      out += ", \"bm25_k1\": " + JsonFloat(info.params.bm25_k1) +
             ", \"bm25_b\": " + JsonFloat(info.params.bm25_b);
    out += ", \"popularity_ranking\": " + std::string(info.npopular >= 0 ? "true" : "false");
    out += ", \"users\": " + std::to_string(info.nusers);
    out += ", \"items\": " + std::to_string(info.nitems);
    out += ", \"entries\": " + std::to_string(info.nentries);
    out += ", \"file\": " + JsonString(model->sources().model);
    out += ", \"format_version\": " + std::to_string(model->format_version());
    out += ", \"file_size\": " + std::to_string(model->file_size());
    out += ", \"ids\": " + std::string(model->maps() ? "\"original\"" : "\"indices\"");
    out +=
        ", \"user_baskets\": " + std::string(model->sources().user_data.empty() ? "false" : "true");
    out += ", \"loaded_at\": " + JsonString(model->loaded_at());
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.6f", model->load_seconds());
    out += ", \"load_seconds\": " + std::string(seconds);
    out += ", \"generation\": " + std::to_string(model->generation());
    out += ", \"reloads\": " + std::to_string(slot_->reloads());
    out += ", \"failed_reloads\": " + std::to_string(slot_->failed_reloads());
    out += ", \"last_reload_error\": " + JsonString(slot_->last_error());
    out += "}\n";
    res.set_content(out, kJson);
  }

  void Reload(const httplib::Request &req, httplib::Response &res) const {
    if (auto error = CheckNoParams(req)) return Refuse(res, *error);
    if (!settings_.admin)
      return Refuse(res, {403, "reloading over HTTP needs the server started with --admin"});
    const std::string error = ReloadAndLog(slot_);
    if (!error.empty())
      return Refuse(res, {500, "reload failed, the previous model keeps serving: " + error});
    res.set_content("{\"reloaded\": true, \"generation\": " +
                        std::to_string(slot_->Current()->generation()) + "}\n",
                    kJson);
  }

 private:
  // Answers query from model: one answer, or {"results": [...]} for a batch.
  void Answer(const ServedModel &model, BasketQuery &query, httplib::Response &res) const {
    if (query.user) {
      query.baskets.emplace_back();
      if (auto error = model.UserBasket(*query.user, &query.baskets[0])) return Refuse(res, *error);
    }
    if (auto error = model.CheckQuery(query)) return Refuse(res, *error);
    const size_t n = size_t(query.n);
    std::vector<int32_t> ids(n);
    std::vector<float> scores(n);
    std::string out;
    out.reserve(64 + query.baskets.size() * n * 24);
    if (query.batch) out += "{\"results\": [";
    for (size_t b = 0; b < query.baskets.size(); b++) {
      std::string reason;
      const int32_t m = model.Answer(query.baskets[b], query, ids.data(), scores.data(), &reason);
      if (m < 0) return Refuse(res, {500, reason});
      if (b > 0) out += ", ";
      AppendAnswer(&out, model.maps(), ids.data(), scores.data(), m);
    }
    if (query.batch) out += "]}";
    out += "\n";
    res.set_header("Tovran-Model-Generation", std::to_string(model.generation()));
    res.set_content(out, kJson);
  }

  ModelSlot *slot_;
  RouteSettings settings_;
};

}  // namespace

std::string ReloadAndLog(ModelSlot *slot) {
  const std::string error = slot->Reload();
  if (error.empty())
    LogLine("RELOAD ok, generation " + std::to_string(slot->Current()->generation()));
  else
    LogLine("RELOAD failed, generation " + std::to_string(slot->Current()->generation()) +
            " keeps serving: " + error);
  return error;
}

void AddRoutes(httplib::Server *server, ModelSlot *slot, Metrics *metrics,
               const RouteSettings &settings) {
  auto routes = std::make_shared<Routes>(slot, settings);
  using Handler = void (Routes::*)(const httplib::Request &, httplib::Response &) const;
  auto bind = [routes, metrics](Handler handler) {
    return [routes, metrics, handler](const httplib::Request &req, httplib::Response &res) {
      const auto start = DeadlineServer::Clock::now();
      try {
        ((*routes).*handler)(req, res);
      } catch (const std::bad_alloc &) {
        Refuse(res, {503, "memory exhausted"});
      }
      metrics->CountHandler(
          std::chrono::duration_cast<std::chrono::nanoseconds>(DeadlineServer::Clock::now() - start)
              .count());
    };
  };
  server->Get("/recommend", bind(&Routes::RecommendForUser));
  server->Post("/recommend", bind(&Routes::RecommendForBody));
  server->Get("/similar", bind(&Routes::Similar));
  server->Get("/health", bind(&Routes::Health));
  server->Get("/info", bind(&Routes::Info));
  server->Get("/metrics",
              [routes, slot, metrics](const httplib::Request &, httplib::Response &res) {
                res.set_content(metrics->Text(*slot), "text/plain; version=0.0.4");
              });
  server->Post("/reload", bind(&Routes::Reload));

  // Known paths asked with another method: 405 with the methods they take.
  const std::pair<const char *, const char *> allowed[] = {
      {"/recommend", "GET, POST"}, {"/similar", "GET"}, {"/health", "GET"}, {"/info", "GET"},
      {"/metrics", "GET"},         {"/reload", "POST"}};
  for (const auto &[path, methods] : allowed) {
    const std::string allow = methods;
    const httplib::Server::Handler refuse = [allow](const httplib::Request &req,
                                                    httplib::Response &res) {
      res.set_header("Allow", allow);
      Refuse(res, {405, req.method + " is not allowed here (" + allow + ")"});
    };
    if (allow.find("GET") == std::string::npos) server->Get(path, refuse);
    if (allow.find("POST") == std::string::npos) server->Post(path, refuse);
    server->Put(path, refuse);
    server->Patch(path, refuse);
    server->Delete(path, refuse);
    server->Options(path, refuse);
  }

  // Every other refusal the library makes (unknown path 404, body too large
  // 413, malformed request 400) gets a JSON body too.
  server->set_error_handler([](const httplib::Request &req, httplib::Response &res) {
    if (!res.body.empty()) return;
    std::string message = "request refused";
    if (res.status == 404) message = "no such endpoint: " + ShownId(req.path);
    if (res.status == 413) message = "the body is larger than --max-body allows";
    if (res.status == 400) message = "malformed request";
    res.set_content(ErrorJson(res.status, message), kJson);
  });
  server->set_exception_handler(
      [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        Refuse(res, {500, "internal error"});
      });

  const bool quiet = settings.quiet;
  server->set_logger([metrics, quiet](const httplib::Request &req, const httplib::Response &res) {
    const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(
                               DeadlineServer::Clock::now() - DeadlineServer::RequestStart())
                               .count();
    metrics->Count(req.path, res.status, micros);
    if (!quiet)
      LogLine(Printable(req.method) + " " + Printable(req.path) + " " + std::to_string(res.status) +
              " " + std::to_string(micros));
  });
}
