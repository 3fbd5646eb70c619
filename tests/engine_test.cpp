#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "engine/model.h"
#include "tests/fixtures.h"
#include "util/checked_alloc.h"

using ::testing::ExitedWithCode;

namespace {

// Five users and four items; item frequencies 3, 3, 4, 3.
PairList FiveUsers() {
  PairList p{5, 4};
  p.Add(0, {0, 1, 2});
  p.Add(1, {2, 3});
  p.Add(2, {1, 2, 3});
  p.Add(3, {0, 1, 3});
  p.Add(4, {0, 2});
  return p;
}

// The model's own scratch answers every one-item basket, ids and scores, as
// a fresh scratch does: the calls before left nothing behind in it.
void ExpectAnswersAsAFreshScratch(Model *model) {
  TOVRAN_ModelInfo info;
  ASSERT_EQ(TOVRAN_GetModelInfo(model, &info), 0);
  const int32_t n = info.nitems;
  std::vector<int64_t> offsets;
  std::vector<int32_t> items;
  for (int32_t c = 0; c <= n; c++) offsets.push_back(c);
  for (int32_t c = 0; c < n; c++) items.push_back(c);
  std::vector<int32_t> ids(size_t(n) * size_t(n) + 1), counts(size_t(n) + 1);
  std::vector<float> scores(ids.size());
  std::vector<Scored> own;
  for (int32_t c = 0; c < n; c++) own.push_back(AskScored(model, {c}, n));
  ASSERT_EQ(TOVRAN_RecommendBatch(model, n, offsets.data(), items.data(), std::max(n, 1), 1,
                                  ids.data(), scores.data(), counts.data()),
            0);
  for (int32_t c = 0; c < n; c++) {
    const auto first = size_t(c) * size_t(n), last = first + size_t(counts[size_t(c)]);
    EXPECT_EQ(own[size_t(c)].ids, std::vector<int32_t>(ids.begin() + first, ids.begin() + last))
        << "basket {" << c << "}";
    EXPECT_EQ(Bits(own[size_t(c)].scores),
              Bits(std::vector<float>(scores.begin() + first, scores.begin() + last)));
  }
}

void ExpectList(const Model *model, int32_t item, const List &expected) {
  const List list = ListOf(model, item);
  ASSERT_EQ(list.size(), expected.size());
  for (size_t l = 0; l < list.size(); l++) {
    EXPECT_EQ(list[l].key, expected[l].key) << "position " << l;
    EXPECT_NEAR(list[l].value, expected[l].value, 5e-5) << "position " << l;
  }
}

}  // namespace

TEST(ItemCosineModel, ListsAreCosinesCutToNnbrThenScaled) {
  const PairList p = FiveUsers();
  Model *wide = p.Build(TOVRAN_ITEM_COSINE, 20);
  ExpectList(wide, 0, {{0.6817f, 1}, {0.6601f, 2}, {0.3156f, 3}});
  ExpectAnswersAsAFreshScratch(wide);
  Model *narrow = p.Build(TOVRAN_ITEM_COSINE, 2);
  ExpectList(narrow, 0, {{0.7184f, 1}, {0.6956f, 2}});
  EXPECT_EQ(narrow->lists.itemptr[4] - narrow->lists.itemptr[3], 2);
  TOVRAN_FreeModel(wide);
  TOVRAN_FreeModel(narrow);
}

TEST(ItemCProbModel, AlphaDampsByTheCandidatesFrequency) {
  const PairList p = FiveUsers();
  Model *a0 = p.Build(TOVRAN_ITEM_CPROB, 20, 0.0f);
  ExpectList(a0, 0, {{0.7053f, 2}, {0.6341f, 1}, {0.3170f, 3}});
  Model *a5 = p.Build(TOVRAN_ITEM_CPROB, 20, 0.5f);
  ExpectList(a5, 0, {{0.6776f, 1}, {0.6528f, 2}, {0.3388f, 3}});
  Model *a1 = p.Build(TOVRAN_ITEM_CPROB, 20, 1.0f);
  ExpectList(a1, 0, {{0.7168f, 1}, {0.5981f, 2}, {0.3584f, 3}});
  for (Model *m : {a0, a5, a1}) {
    ExpectAnswersAsAFreshScratch(m);
    TOVRAN_FreeModel(m);
  }
}

TEST(ItemModels, RepeatedPairsCountTowardsEligibility) {
  // Item 1: two users, one holding it twice (frequency 3, eligible).
  // Item 2: two users (frequency 2, never a neighbour, but has a list).
  PairList p{3, 4};
  p.Add(0, {0, 1, 1, 2});
  p.Add(1, {0, 1, 2});
  p.Add(2, {0, 3});
  for (int32_t type : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB}) {
    Model *model = p.Build(type, 20, 0.5f);
    EXPECT_EQ(Keys(ListOf(model, 0)), std::vector<int32_t>{1}) << "type " << type;
    EXPECT_EQ(ListOf(model, 2).size(), 2u);  // items 0 and 1, never itself
    EXPECT_EQ(ListOf(model, 3).size(), 1u);  // item 0 only; 3 is ineligible
    for (int32_t i = 0; i < 4; i++)
      for (const CandidatePair &n : ListOf(model, i)) EXPECT_NE(n.key, 2);
    ExpectAnswersAsAFreshScratch(model);
    TOVRAN_FreeModel(model);
  }
}

TEST(ItemModels, ZeroItemsGiveOneOffsetAndNoArrays) {
  PairList p{2, 0};
  Model *model = p.Build(TOVRAN_ITEM_COSINE, 20);
  EXPECT_EQ(model->nitems, 0);
  EXPECT_EQ(model->lists.itemptr[0], 0);
  EXPECT_EQ(model->lists.itemind, nullptr);
  EXPECT_EQ(model->lists.itemval, nullptr);
  EXPECT_EQ(model->scratch.item_marks, nullptr);
  EXPECT_EQ(model->scratch.item_candidates, nullptr);
  EXPECT_EQ(Ask(model, {}), std::vector<int32_t>{});
  EXPECT_EQ(Ask(model, {0}), std::vector<int32_t>{-1});
  TOVRAN_FreeModel(model);
  TOVRAN_FreeModel(nullptr);
  TOVRAN_FreeModel(CreateModel());
}

TEST(RecommendByItems, SumsListsInBasketOrderAndSkipsBasketItems) {
  Model *model = HandItemModel(
      10, {{{0.8f, 2}, {0.6f, 3}}, {{0.8f, 0}, {0.6f, 3}}, {}, {}, {}, {{0.5f, 7}, {0.5f, 9}}});
  const Scored both = AskScored(model, {0, 1});
  EXPECT_EQ(both.ids, (std::vector<int32_t>{3, 2}));
  EXPECT_EQ(Bits(both.scores), Bits({1.2f, 0.8f}));  // 0.6f + 0.6f in single precision
  EXPECT_EQ(Ask(model, {5}), (std::vector<int32_t>{7, 9}));
  // The basket item 0 is in the list of 1 but never recommended; item 1's
  // list counts twice when the basket names it twice.
  const Scored twice = AskScored(model, {1, 1});
  EXPECT_EQ(twice.ids, (std::vector<int32_t>{0, 3}));
  EXPECT_EQ(Bits(twice.scores), Bits({1.6f, 1.2f}));
  // One candidate more than wanted: the selection's end-game leaves the
  // first gathered one in front, not the best.
  EXPECT_EQ(Ask(model, {0, 1}, 1), (std::vector<int32_t>{2}));
  EXPECT_EQ(Ask(model, {}), std::vector<int32_t>{});
  ExpectAnswersAsAFreshScratch(model);
  TOVRAN_FreeModel(model);
}

TEST(Recommend, AnItemOutsideTheRangeAnswersMinusOneAndTouchesNothing) {
  const PairList p = FiveUsers();
  for (int32_t type : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB, TOVRAN_USER_BASED}) {
    Model *model = p.Build(type, 20);
    int32_t rcmds[3] = {-7, -7, -7};
    for (const std::vector<int32_t> &basket :
         {std::vector<int32_t>{0, 4}, std::vector<int32_t>{-1, 0}, std::vector<int32_t>{1, 2, 9}}) {
      EXPECT_EQ(TOVRAN_Recommend(model, int32_t(basket.size()), basket.data(), 3, rcmds), -1);
      ExpectAnswersAsAFreshScratch(model);
    }
    EXPECT_EQ(rcmds[0], -7);
    EXPECT_EQ(TOVRAN_Recommend(model, 1, std::vector<int32_t>{0}.data(), 0, rcmds), 0);
    EXPECT_EQ(rcmds[0], -7);
    TOVRAN_FreeModel(model);
  }
}

TEST(UserBasedModel, KeepsRowValuesInBothViewsAndOwnsTheArrays) {
  const PairList p = FiveUsers();
  Model *model = p.Build(TOVRAN_USER_BASED, 50);
  EXPECT_EQ(model->lists.itemptr, nullptr);
  EXPECT_EQ(model->users.nrows, 5);
  EXPECT_EQ(model->nitems, 4);
  // A basket of one item: each holder's similarity is its row value, 0.57735026
  // (3F13CD3A) for users 0 and 3 with three items, 0.70710677 for user 4;
  // their other items weigh the same values again.
  const double third = FromBits(0x3F13CD3A), half = 0.70710677f;
  const Scored answer = AskScored(model, {0});
  EXPECT_EQ(answer.ids, (std::vector<int32_t>{2, 1, 3}));
  EXPECT_EQ(Bits(answer.scores),
            Bits({float(third * third + double(float(half * half))),
                  float(third * third + double(float(third * third))), float(third * third)}));
  ExpectAnswersAsAFreshScratch(model);
  TOVRAN_FreeModel(model);
}

TEST(RecommendByUsers, DropsNearIdenticalUsersThenScoresTheirNeighboursItems) {
  PairList p{3, 4};
  p.Add(0, {0, 1});
  p.Add(1, {0, 1, 2});
  p.Add(2, {1, 3});
  // Two neighbours: had user 0 (0.99999994) stayed, it would crowd out user 2.
  Model *model = p.Build(TOVRAN_USER_BASED, 2);
  // Users 1 (0.81649655) and 2 (0.49999997) remain and weigh their own items.
  const Scored answer = AskScored(model, {0, 1});
  EXPECT_EQ(answer.ids, (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(Bits(answer.scores), Bits({float(double(0.81649655f) * double(0.57735026f)),
                                       float(double(0.49999997f) * double(0.70710677f))}));
  ExpectAnswersAsAFreshScratch(model);
  // A basket of one item: every holder's similarity is its row value; user 2
  // (0.70710677) stays; users 0 and 1 keep 0.70710677 and 0.57735026.
  EXPECT_EQ(Ask(model, {3}), (std::vector<int32_t>{1}));
  EXPECT_EQ(Ask(model, {}), std::vector<int32_t>{});
  ExpectAnswersAsAFreshScratch(model);
  TOVRAN_FreeModel(model);
}

TEST(RecommendByUsers, TheNearIdenticalTestIsMadeInDoublePrecision) {
  // One user holding items 0 and 1; a basket {0} makes its similarity its
  // row value for item 0, set here by hand on each side of the threshold.
  PairList p{1, 2};
  p.Add(0, {0, 1});
  const float at = 0.999f;                       // 0.99900001, above 0.999 in double precision
  const float below = std::nextafter(at, 0.0f);  // 0.99899995
  for (float value : {at, below}) {
    Model *model = p.Build(TOVRAN_USER_BASED, 50);
    model->users.colval[0] = model->users.rowval[0] = value;
    EXPECT_EQ(Ask(model, {0}), value == at ? std::vector<int32_t>{} : std::vector<int32_t>{1});
    ExpectAnswersAsAFreshScratch(model);
    TOVRAN_FreeModel(model);
  }
}

TEST(RecommendByUsers, EveryUserMetAgainAfterTheListHoldsThemAll) {
  // After column 0 every user is a candidate; column 1 meets each again, so
  // the query's write ahead of its list lands one past the last user (the
  // sanitizer build checks that the arrays have room for it).
  PairList p{4, 4};
  for (int32_t u = 0; u < 4; u++) p.Add(u, {0, 1, 2 + u % 2});
  Model *model = p.Build(TOVRAN_USER_BASED, 50);
  // Four equal similarities, float(0.70710677 * float(0.57735026 * 2)): items
  // 2 and 3 each gather two of them.
  const double sim = float(double(0.70710677f) * double(0.57735026f + 0.57735026f));
  const float once = float(sim * double(0.57735026f));
  const float twice = float(sim * double(0.57735026f) + once);
  const Scored answer = AskScored(model, {0, 1});
  EXPECT_EQ(answer.ids, (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(Bits(answer.scores), Bits({twice, twice}));
  ExpectAnswersAsAFreshScratch(model);
  TOVRAN_Scratch *scratch = TOVRAN_CreateScratch(model);
  int32_t rcmds[10];
  // Through a scratch of its own: users 0 and 2 now hold the whole basket
  // (similarity 1) and go; users 1 and 3 leave item 3.
  const int32_t basket[] = {1, 0, 2};
  EXPECT_EQ(TOVRAN_RecommendWith(model, scratch, 3, basket, 10, rcmds), 1);
  EXPECT_EQ(rcmds[0], 3);
  TOVRAN_FreeScratch(scratch);
  TOVRAN_FreeModel(model);
}

// Every model kind on a checkerboard: even users hold even items, odd users
// odd items, each user missing one item of its parity.
class EveryKind : public ::testing::TestWithParam<int32_t> {
 protected:
  static PairList Checkerboard() {
    PairList p{12, 12};
    for (int32_t u = 0; u < 12; u++)
      for (int32_t c = u % 2; c < 12; c += 2)
        if (c != u) p.Add(u, {c});
    return p;
  }
};

TEST_P(EveryKind, AnswersStayWithinTheBasketsParityAndNeverRepeatTheBasket) {
  const PairList p = Checkerboard();
  Model *model = p.Build(GetParam(), 5, 0.5f);
  ExpectAnswersAsAFreshScratch(model);
  for (int32_t u = 0; u < 12; u++) {
    std::vector<int32_t> basket;
    for (size_t k = 0; k < p.rows.size(); k++)
      if (p.rows[k] == u) basket.push_back(p.cols[k]);
    const std::vector<int32_t> answer = Ask(model, basket);
    ASSERT_FALSE(answer.empty()) << "user " << u;
    EXPECT_EQ(answer[0], u) << "the withheld item comes first";
    std::set<int32_t> distinct(answer.begin(), answer.end());
    EXPECT_EQ(distinct.size(), answer.size());
    for (int32_t item : answer) {
      EXPECT_EQ(item % 2, u % 2);
      EXPECT_EQ(std::count(basket.begin(), basket.end(), item), 0);
    }
    EXPECT_EQ(Ask(model, basket), answer) << "asking again gives the same answer";
  }
  TOVRAN_FreeModel(model);
}

TEST_P(EveryKind, BuildLeavesThePairArraysUnchanged) {
  const PairList p = Checkerboard();
  const PairList copy = p;
  TOVRAN_FreeModel(p.Build(GetParam(), 3, 1.0f));
  EXPECT_EQ(p.rows, copy.rows);
  EXPECT_EQ(p.cols, copy.cols);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind,
                         ::testing::Values(TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB,
                                           TOVRAN_USER_BASED));

TEST(BuildModelDeathTest, ParametersAreCheckedInOrderWithExactMessages) {
  const PairList p = FiveUsers();
  const char *mtype = "^MType should take a value from \\{1, 2, 3\\}\\.\n$";
  const char *nnbr = "^NNbr should be greater than 0\\.\n$";
  const char *alpha = "^Alpha should take a value from \\[0\\.0, 1\\.0\\]\\.\n$";
  EXPECT_EXIT(p.Build(0, 0), ExitedWithCode(1), mtype);
  EXPECT_EXIT(p.Build(4, 20), ExitedWithCode(1), mtype);
  EXPECT_EXIT(p.Build(TOVRAN_USER_BASED, 0), ExitedWithCode(1), nnbr);
  EXPECT_EXIT(p.Build(TOVRAN_ITEM_CPROB, -3, 7.0f), ExitedWithCode(1), nnbr);
  EXPECT_EXIT(p.Build(TOVRAN_ITEM_CPROB, 20, std::nextafter(1.0f, 2.0f)), ExitedWithCode(1), alpha);
  EXPECT_EXIT(p.Build(TOVRAN_ITEM_CPROB, 20, -0.25f), ExitedWithCode(1), alpha);
  EXPECT_EXIT(p.Build(TOVRAN_ITEM_CPROB, 20, std::numeric_limits<float>::quiet_NaN()),
              ExitedWithCode(1), alpha);
}

// A model's answers to every one-item basket and to {0, 3}; the model is
// released.
std::vector<std::vector<int32_t>> AnswersOf(Model *model) {
  std::vector<std::vector<int32_t>> answers;
  for (int32_t item = 0; item < 4; item++) answers.push_back(Ask(model, {item}));
  answers.push_back(Ask(model, {0, 3}));
  TOVRAN_FreeModel(model);
  return answers;
}

TEST(BuildModel, AlphaBoundsAreAcceptedAndIgnoredOutsideType2) {
  const PairList p = FiveUsers();
  // -0.0 is 0.0; 1.0 is accepted and weighs differently.
  const auto zero = AnswersOf(p.Build(TOVRAN_ITEM_CPROB, 20, 0.0f));
  EXPECT_EQ(AnswersOf(p.Build(TOVRAN_ITEM_CPROB, 20, -0.0f)), zero);
  Model *one = p.Build(TOVRAN_ITEM_CPROB, 20, 1.0f);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(ListOf(one, 1).size(), 3u);
  TOVRAN_FreeModel(one);
  // Kinds 1 and 3 never read alpha, whatever it holds.
  EXPECT_EQ(AnswersOf(p.Build(TOVRAN_ITEM_COSINE, 20, 5.0f)),
            AnswersOf(p.Build(TOVRAN_ITEM_COSINE, 20, 0.0f)));
  EXPECT_EQ(AnswersOf(p.Build(TOVRAN_USER_BASED, 20, std::numeric_limits<float>::quiet_NaN())),
            AnswersOf(p.Build(TOVRAN_USER_BASED, 20, 0.0f)));
}

TEST(BuildModelDeathTest, PairsOutsideTheMatrixAreRejectedBeforeAnyIndexing) {
  PairList p = FiveUsers();
  p.rows[3] = 5;
  EXPECT_EXIT(p.Build(TOVRAN_ITEM_COSINE, 20), ExitedWithCode(1),
              "^Pair 3 \\(5, 2\\) lies outside the 5 x 4 matrix\\.\n$");
  PairList q = FiveUsers();
  q.cols[0] = -1;
  EXPECT_EXIT(q.Build(TOVRAN_USER_BASED, 20), ExitedWithCode(1), "Pair 0 \\(0, -1\\)");
  EXPECT_EXIT(TOVRAN_BuildModel(-1, 4, 0, nullptr, nullptr, 1, 20, 0.0f), ExitedWithCode(1),
              "should not be negative");
}

TEST(BuildModel, NnbrBeyondTheOtherItemsGivesTheirFullLists) {
  // Lists take the room the items can fill, so 2^31-1 neighbours per item
  // asks for no more than ncols - 1 each.
  const PairList p = FiveUsers();
  for (int32_t type : {TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB}) {
    Model *full = p.Build(type, 3, 0.5f);
    Model *huge = p.Build(type, std::numeric_limits<int32_t>::max(), 0.5f);
    for (int32_t c = 0; c < p.ncols; c++) EXPECT_EQ(Bits(ListOf(full, c)), Bits(ListOf(huge, c)));
    TOVRAN_FreeModel(full);
    TOVRAN_FreeModel(huge);
  }
  PairList wide{1, 1000};  // 1000 items: 2^31-1 neighbours each once needed 8.6 TB
  wide.Add(0, {0, 1});
  TOVRAN_FreeModel(wide.Build(TOVRAN_ITEM_CPROB, std::numeric_limits<int32_t>::max()));
}
