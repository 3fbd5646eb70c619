#pragma once

#include <cstdint>

#include "engine/model.h"
#include "engine/scratch.h"

// A query's options at work: which items its gather leaves out, and how its
// candidates become the answer (tovran.h, TOVRAN_QueryOptions).

// The options of the plain query.
inline constexpr TOVRAN_QueryOptions kPlainQuery{nullptr, 0, nullptr, 0, 0, 0};

// Sets the marks of the items a gather leaves out to mark: the basket's
// (unless options keep it) and the filtered ones.
void MarkLeftOut(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                 int32_t *item_marks, int32_t mark);

// The ncand candidates gathered in the scratch's item_candidates (every mark at rest)
// become the answer: the N best, restricted to options.items if given, then
// filled as options ask. Writes the m answers to rcmds and, unless scores is
// null, their scores; returns m. Every mark is at rest again.
int32_t FinishAnswer(const Model *model, TOVRAN_Scratch *scratch, int32_t ncand, int32_t n,
                     const int32_t *basket, int32_t N, const TOVRAN_QueryOptions &options,
                     int32_t *rcmds, float *scores);

// A restricted answer marks its lists with the RestrictMark states (marks.h).

// Puts the listed members that FinishAnswer found no score for after the m
// answers (in the order listed, or in popularity order under fallback,
// scored 0.0), then the basket's members (scored -infinity), up to N; the
// members' marks must be kMember or kInBasket, the scored ones' kTaken.
// item_candidates serves as room. Returns the new answer count.
int32_t AppendUnscored(const Model *model, CandidatePair *item_candidates, int32_t *item_marks,
                       int32_t m, int32_t N, const TOVRAN_QueryOptions &options, int32_t *rcmds,
                       float *scores);

// Marks the restricted query's lists: members kMember, basket items (unless
// kept) kInBasket, filtered ones kFiltered, in that order of precedence
// from the last.
void MarkRestricted(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                    int32_t *item_marks);

// Puts the marks MarkLeftOut sets (the basket's, kept or not, and the
// filtered items') back at unmet.
void RestLeftOut(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
                 int32_t *item_marks, int32_t unmet);

// Puts the marks of every item in the basket and the options' lists back at unmet.
void RestLists(int32_t n, const int32_t *basket, const TOVRAN_QueryOptions &options,
               int32_t *item_marks, int32_t unmet);
