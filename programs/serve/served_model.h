#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "driver/query_inputs.h"
#include "engine/tovran.h"
#include "programs/serve/basket_request.h"

// What the server answers from: a model file, loaded, with the id maps and
// the users' baskets that belong with it. Immutable once loaded; a reload
// makes a new one, and requests that hold the old one finish on it.

// The files a ServedModel is read from.
struct ServeSources {
  std::string model;     // the model file
  std::string ids_data;  // DATA whose DATA.users and DATA.items map ids; empty: indices
  std::string
      user_data;  // the dataset whose users' baskets GET /recommend?user= reads; empty: none
};

class ServedModel {
 public:
  // Reads every source; throws Failure naming the file and what is wrong.
  ServedModel(const ServeSources &sources, int64_t generation);
  ~ServedModel();
  ServedModel(const ServedModel &) = delete;
  ServedModel &operator=(const ServedModel &) = delete;

  const TOVRAN_ModelInfo &info() const { return info_; }
  ItemIds item_ids() const { return ItemIds{maps_ ? &*maps_ : nullptr, info_.nitems}; }
  const IdMaps *maps() const { return maps_ ? &*maps_ : nullptr; }
  int64_t generation() const { return generation_; }
  uint32_t format_version() const { return facts_.version; }
  int64_t file_size() const { return facts_.size; }
  const std::string &loaded_at() const { return loaded_at_; }  // UTC, ISO 8601
  double load_seconds() const { return load_seconds_; }
  const ServeSources &sources() const { return sources_; }

  // The training basket of user id (original id with maps, else index), or
  // the error: 400 without user data, 404 for an unknown user.
  std::optional<RequestError> UserBasket(const std::string &id, std::vector<int32_t> *basket) const;

  // Refuses (400) what this model cannot answer: a fallback without the
  // popularity ranking (model files of format version 1 carry none).
  std::optional<RequestError> CheckQuery(const BasketQuery &query) const;

  // Up to n answers for basket under query's filters into ids and scores
  // (room for n each); their number, or -1 with the library's reason in
  // *error; throws std::bad_alloc when memory for its scratch is exhausted.
  // Safe from any number of threads at once.
  int32_t Answer(const std::vector<int32_t> &basket, const BasketQuery &query, int32_t *ids,
                 float *scores, std::string *error) const;

 private:
  ServeSources sources_;
  int64_t generation_;
  Model *model_ = nullptr;
  TOVRAN_ModelInfo info_{};
  FileFacts facts_{};
  std::optional<IdMaps> maps_;
  std::optional<Pairs> users_;
  std::string loaded_at_;
  double load_seconds_ = 0.0;
  // Scratch arrays for queries, one per query running: made when every
  // one made is in use, so there are never more than the server has
  // workers, and kept for the next query.
  TOVRAN_Scratch *TakeScratch() const;
  void GiveBack(TOVRAN_Scratch *scratch) const;
  mutable std::mutex scratch_mutex_;
  mutable std::vector<TOVRAN_Scratch *> idle_scratch_;
};
