#pragma once

#include <httplib.h>

#include "programs/serve/basket_request.h"
#include "programs/serve/metrics.h"
#include "programs/serve/model_slot.h"

// The endpoints of tovran-serve on an HTTP server:
//   GET  /recommend?user=ID&n=N   the user's basket (needs --data)
//   POST /recommend               {"items"|"baskets"|"user", "n", filters}
//   GET  /similar?item=ID&n=N     an item model's neighbours of one item
//   GET  /health, GET /info, GET /metrics
//   POST /reload                  only when admin
// Every answer is JSON (metrics: the Prometheus text format); every refusal
// is {"error": ..., "status": ...} with its 4xx or 5xx status.
struct RouteSettings {
  RequestLimits limits;
  bool admin = false;  // POST /reload allowed
  bool quiet = false;  // no line per request on standard error
};

void AddRoutes(httplib::Server *server, ModelSlot *slot, Metrics *metrics,
               const RouteSettings &settings);

// Logs "RELOAD ok generation N" or the reason on standard error, counts it
// and returns "" or the reason. For SIGHUP and POST /reload.
std::string ReloadAndLog(ModelSlot *slot);
