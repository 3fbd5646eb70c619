#include "programs/serve/served_model.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <new>
#include <semaphore>
#include <thread>

namespace {

// Queries computing at once, process-wide: no more than there are cores.
// More would only share the cores, and a worker whose query loses its core
// for a scheduler slice turns its answer into a tail-latency answer; one
// that waits here sleeps and takes no slice from the running ones.
std::counting_semaphore<> &Computing() {
  static std::counting_semaphore<> slots(
      std::ptrdiff_t(std::max(1u, std::thread::hardware_concurrency())));
  return slots;
}

// Holds one of Computing()'s slots for its lifetime.
class ComputingSlot {
 public:
  ComputingSlot() { Computing().acquire(); }
  ~ComputingSlot() { Computing().release(); }
  ComputingSlot(const ComputingSlot &) = delete;
  ComputingSlot &operator=(const ComputingSlot &) = delete;
};

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

ServedModel::ServedModel(const ServeSources &sources, int64_t generation)
    : sources_(sources), generation_(generation) {
  const auto start = std::chrono::steady_clock::now();
  facts_ = ReadFileFacts(sources.model);
  model_ = TOVRAN_LoadModel(sources.model.c_str());
  if (model_ == nullptr) throw Failure{TOVRAN_LastError()};
  try {
    TOVRAN_GetModelInfo(model_, &info_);
    if (!sources.ids_data.empty()) {
      maps_.emplace(sources.ids_data);
      if (maps_->nitems() < info_.nitems)
        throw Failure{sources.ids_data + ".items: " + std::to_string(maps_->nitems()) +
                      " ids, fewer than the model's " + std::to_string(info_.nitems) + " items"};
    }
    if (!sources.user_data.empty()) {
      users_.emplace(ReadAllPairs(sources.user_data));
      if (users_->nitems > info_.nitems)
        throw Failure{sources.user_data + ": " + std::to_string(users_->nitems) +
                      " items, more than the model's " + std::to_string(info_.nitems)};
    }
  } catch (...) {
    TOVRAN_FreeModel(model_);
    throw;
  }
  loaded_at_ = UtcNow();
  load_seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ServedModel::~ServedModel() {
  for (TOVRAN_Scratch *scratch : idle_scratch_) TOVRAN_FreeScratch(scratch);
  TOVRAN_FreeModel(model_);
}

std::optional<RequestError> ServedModel::UserBasket(const std::string &id,
                                                    std::vector<int32_t> *basket) const {
  if (!users_)
    return RequestError{400, "user: the server has no users' baskets (start it with --data DATA)"};
  int32_t user = -1;
  if (maps_) {
    user = maps_->User(id);
  } else if (!id.empty() && id.size() < 11 && id.find_first_not_of("0123456789") == id.npos) {
    user = int32_t(std::min<int64_t>(std::stoll(id), INT32_MAX));
  }
  if (user < 0 || user >= users_->nusers) {
    return RequestError{404, "user: '" + ShownId(id) + "' is not among the dataset's users"};
  }
  *basket = users_->BasketOf(user);
  return std::nullopt;
}

std::optional<RequestError> ServedModel::CheckQuery(const BasketQuery &query) const {
  if (query.fallback && info_.npopular < 0)
    return RequestError{400, "fallback: this model file (format version " +
                                 std::to_string(facts_.version) +
                                 ") carries no popularity ranking; build it again to use fallback"};
  return std::nullopt;
}

int32_t ServedModel::Answer(const std::vector<int32_t> &basket, const BasketQuery &query,
                            int32_t *ids, float *scores, std::string *error) const {
  TOVRAN_QueryOptions options{};
  options.filter_items = query.filter_items.data();
  options.nfilter = int32_t(query.filter_items.size());
  if (query.allowed_items) {
    // An empty list allows nothing; the entry reads a null list as no list.
    static const int32_t none = 0;
    options.items = query.allowed_items->empty() ? &none : query.allowed_items->data();
    options.nitems = int32_t(query.allowed_items->size());
  }
  options.keep_basket = !query.filter_already_liked_items;
  options.fallback = query.fallback;
  const ComputingSlot slot;
  TOVRAN_Scratch *scratch = TakeScratch();
  if (scratch == nullptr) throw std::bad_alloc();  // answered 503, as exhausted memory is
  const int32_t m = TOVRAN_RecommendFilteredWith(model_, scratch, int32_t(basket.size()),
                                                 basket.data(), query.n, &options, ids, scores);
  if (m < 0) *error = TOVRAN_LastError();
  GiveBack(scratch);
  return m;
}

TOVRAN_Scratch *ServedModel::TakeScratch() const {
  {
    std::lock_guard<std::mutex> lock(scratch_mutex_);
    if (!idle_scratch_.empty()) {
      TOVRAN_Scratch *scratch = idle_scratch_.back();
      idle_scratch_.pop_back();
      return scratch;
    }
  }
  return TOVRAN_CreateScratch(model_);
}

void ServedModel::GiveBack(TOVRAN_Scratch *scratch) const {
  std::lock_guard<std::mutex> lock(scratch_mutex_);
  try {
    idle_scratch_.push_back(scratch);
  } catch (const std::bad_alloc &) {
    TOVRAN_FreeScratch(scratch);
  }
}
