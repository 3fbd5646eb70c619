/* tovran: top-N recommendation engine.
 *
 * Build a model from (user, item) pairs, ask it for the N best items for a
 * basket, release it. Answers are deterministic to the bit: the same pairs
 * and basket give the same list, ties included, on every run.
 * Usable from C and C++. */
#ifndef TOVRAN_H
#define TOVRAN_H

#include <stdint.h>

/* Marks the entries the shared library exports; everything else in it is
 * hidden. */
#if defined(__GNUC__)
#define TOVRAN_API __attribute__((visibility("default")))
#else
#define TOVRAN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A built model; opaque to callers. A query writes the model's scratch
 * arrays, so one model serves one query at a time. */
typedef struct Model Model;

/* Model kinds accepted by TOVRAN_BuildModel (1..3) and TOVRAN_Build (0..3). */
enum {
  TOVRAN_POPULAR = 0,     /* the items held by the most pairs, the same for every basket */
  TOVRAN_ITEM_COSINE = 1, /* item-to-item cosine */
  TOVRAN_ITEM_CPROB = 2,  /* item-to-item conditional probability, damped by alpha */
  TOVRAN_USER_BASED = 3   /* nearest users, found at query time */
};

/* Builds a model of kind type over npairs (rowid[i], colid[i]) pairs, users
 * in 0..nrows-1 and items in 0..ncols-1. nnbr >= 1 is the neighbourhood size;
 * alpha in [0, 1] is read for type 2 only. The pair arrays are only read.
 * Invalid parameters or pairs, or an item model whose neighbour lists could
 * hold more than INT32_MAX entries, print one message on standard error and
 * end the process with status 1. The caller owns the model. */
TOVRAN_API
Model *TOVRAN_BuildModel(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                         const int32_t *colid, int32_t type, int32_t nnbr, float alpha);

/* Writes up to N recommended item ids, best first, into rcmds (room for N)
 * for the basket of n item ids (n <= 0: empty; repeats allowed). Basket items
 * are never recommended. Returns the number written, 0 for none or N < 1, or
 * -1 when a basket item lies outside the model's items (nothing written).
 * A user-based model (type 3) counts every copy of a repeated basket item or
 * training pair, so a user's similarity to the basket can exceed 1; users
 * above 0.999 are dropped as near-identical to the basket, and the answer
 * can then be short or empty. Pass distinct items and pairs to avoid it. */
TOVRAN_API
int32_t TOVRAN_Recommend(Model *model, int32_t n, const int32_t *basket, int32_t N, int32_t *rcmds);

/* Releases a model; a null model is ignored. */
TOVRAN_API
void TOVRAN_FreeModel(Model *model);

/* Estimates the exponent alpha of type 2 from the pairs alone: re-splits
 * them at random (the same way in every process), then tries alpha = 0.0,
 * 0.1, ... with nnbr neighbours and N recommendations per user and returns
 * the last value before the hit count first falls (1.0 if it never does).
 * The pair arrays are only read. The re-split draws from one process-wide
 * generator, so only the first estimate of a process is the same everywhere
 * unless TOVRAN_RestartRandom comes first. */
TOVRAN_API
double TOVRAN_EstimateAlphaInit(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                                const int32_t *colid, int32_t nnbr, int32_t N);

/* Puts the generator behind TOVRAN_EstimateAlphaInit back to the state every
 * process starts from, so that the next estimate equals the first estimate
 * of a fresh process. */
TOVRAN_API
void TOVRAN_RestartRandom(void);

/* Scratch arrays for queries on one model from a second, third, ... thread.
 * A model's own scratch serves one query at a time; each thread that queries
 * the model concurrently passes its own scratch to TOVRAN_RecommendWith. The
 * model must outlive its scratches. */
typedef struct TOVRAN_Scratch TOVRAN_Scratch;

/* A fresh scratch for model, owned by the caller; NULL with the reason in
 * TOVRAN_LastError for a null model or exhausted memory. */
TOVRAN_API
TOVRAN_Scratch *TOVRAN_CreateScratch(const Model *model);

/* As TOVRAN_Recommend, writing scratch instead of the model's own arrays;
 * the model is only read, so queries with distinct scratches may run at
 * the same time. Same answers as TOVRAN_Recommend. */
TOVRAN_API
int32_t TOVRAN_RecommendWith(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                             const int32_t *basket, int32_t N, int32_t *rcmds);

/* Releases a scratch; null is ignored. */
TOVRAN_API
void TOVRAN_FreeScratch(TOVRAN_Scratch *scratch);

/* As TOVRAN_BuildModel, with the item models' neighbour lists computed by
 * nthreads threads (nthreads <= 1: the calling thread alone). Threads the
 * system refuses to start are done without. The model is the same bit for
 * bit for every nthreads. */
TOVRAN_API
Model *TOVRAN_BuildModelThreads(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                                const int32_t *colid, int32_t type, int32_t nnbr, float alpha,
                                int32_t nthreads);

/* As TOVRAN_EstimateAlphaInit, building and querying with nthreads threads
 * (as many as the system starts); the estimate is the same for every
 * nthreads. */
TOVRAN_API
double TOVRAN_EstimateAlphaInitThreads(int32_t nrows, int32_t ncols, int32_t npairs,
                                       const int32_t *rowid, const int32_t *colid, int32_t nnbr,
                                       int32_t N, int32_t nthreads);

/* Entries that report errors to the caller. None of them ends the process:
 * invalid input, exhausted memory or a thread that cannot start gives the
 * entry's error value (NULL or -1) and a one-line reason, without a final
 * newline, in TOVRAN_LastError. */

/* The reason for the last failure of an entry of this group on the calling
 * thread ("" before any); each thread has its own. Valid until the next
 * failure on the thread; calls that succeed leave it as it was. */
TOVRAN_API
const char *TOVRAN_LastError(void);

/* Most threads an entry of this group accepts. */
#define TOVRAN_MAX_THREADS 256

/* The defaults of every program, binding and TOVRAN_DefaultParams: nnbr of
 * the item models (kinds 1, 2) and of the user-based model (kind 3), the
 * support an item needs to be a neighbour, and N, the items asked per
 * basket. */
#define TOVRAN_DEFAULT_ITEM_NNBR 20
#define TOVRAN_DEFAULT_USER_NNBR 50
#define TOVRAN_DEFAULT_MIN_SUPPORT 3
#define TOVRAN_DEFAULT_TOP 10

/* How a pair's value becomes the matrix entry every kind starts from, in
 * double and rounded once to single precision (binary ignores the values).
 * For pair (u, i) with value v > 0, where item i is held by the pairs of
 * len(i) summed values, avglen is len averaged over the items held, df(u) is
 * the number of pairs of user u and M the number of items held:
 *   binary: 1
 *   raw:    v
 *   log:    log(1 + v)
 *   bm25:   v (K1 + 1) / (v + K1 ((1 - B) + B len(i) / avglen))
 *           * log(1 + (M - df(u) + 0.5) / (df(u) + 0.5))
 *   tfidf:  sqrt(v) * log(1 + M / df(u))
 * Everything after (normalisations, similarities, rankings) is the same for
 * every weighting; binary gives the models of the unweighted entries. */
enum {
  TOVRAN_WEIGHT_BINARY = 0,
  TOVRAN_WEIGHT_RAW = 1,
  TOVRAN_WEIGHT_LOG = 2,
  TOVRAN_WEIGHT_BM25 = 3,
  TOVRAN_WEIGHT_TFIDF = 4
};

/* What to build. A record whose fields past nthreads are zero asks for
 * binary weighting. */
typedef struct TOVRAN_Params {
  int32_t kind; /* TOVRAN_POPULAR, TOVRAN_ITEM_COSINE, TOVRAN_ITEM_CPROB or TOVRAN_USER_BASED */
  int32_t nnbr; /* >= 1: neighbours kept per item (kinds 1, 2) or used per query (3); kind 0: 0 */
  float alpha;  /* kind 2 only: in [0, 1] */
  int32_t min_support; /* kinds 1, 2: >= 1; only items held by this many pairs become neighbours */
  int32_t nthreads;    /* 1..TOVRAN_MAX_THREADS threads for the neighbour lists */
  int32_t weighting;   /* TOVRAN_WEIGHT_*: how the pairs' values become entries */
  float bm25_k1;       /* bm25 only: K1, finite and >= 0 */
  float bm25_b;        /* bm25 only: B, in [0, 1] */
} TOVRAN_Params;

/* The program's parameters for kind: nnbr TOVRAN_DEFAULT_ITEM_NNBR (kinds 1,
 * 2), TOVRAN_DEFAULT_USER_NNBR (kind 3) or 0 (kind 0), alpha 0.0,
 * min_support TOVRAN_DEFAULT_MIN_SUPPORT, nthreads 1, binary weighting, K1
 * 1.2 and B 0.75. */
TOVRAN_API
TOVRAN_Params TOVRAN_DefaultParams(int32_t kind);

/* As TOVRAN_BuildModelThreads with the parameters of params (only read);
 * the same model for the same values. NULL on invalid parameters or pairs,
 * exhausted memory or a thread that cannot start. The caller owns the model
 * (TOVRAN_FreeModel). */
TOVRAN_API
Model *TOVRAN_Build(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                    const int32_t *colid, const TOVRAN_Params *params);

/* As TOVRAN_Build, with a value per pair (values[i] for pair i; only read)
 * weighted as params->weighting says. Every weighting but binary needs
 * values that are finite and above zero, each giving a weight that is a
 * finite single-precision number of normal size; binary reads no values
 * (values may be NULL) and gives TOVRAN_Build's model. NULL with the reason
 * in TOVRAN_LastError otherwise. */
TOVRAN_API
Model *TOVRAN_BuildWeighted(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                            const int32_t *colid, const float *values, const TOVRAN_Params *params);

/* An item model (kinds 1, 2) built in pieces, its items shared among
 * processes say: the lists of any range of items, then the model from every
 * list. Each list equals the one TOVRAN_Build computes, bit for bit, however
 * the items are cut and for every nthreads. */

/* Most neighbours one item's list holds: min(nnbr, ncols - 1), 0 with
 * fewer than two items or nnbr < 1. */
TOVRAN_API
int32_t TOVRAN_ItemListRoom(int32_t nnbr, int32_t ncols);

/* Builds the neighbour lists of items first..last-1 (0 <= first <= last <=
 * ncols) of the item model TOVRAN_Build makes from the same pairs and params
 * (kind 1 or 2), on params->nthreads threads. Item i's list length goes to
 * counts[i - first]; the lists follow one another in item order in ind
 * (neighbour ids, best first) and val (similarities). Both need room for
 * (last - first) * TOVRAN_ItemListRoom(params->nnbr, ncols) entries, as
 * they are staged there before they are packed. Returns the number of
 * entries, or -1 on invalid arguments, exhausted memory or a thread that
 * cannot start (the arrays then undefined). */
TOVRAN_API
int64_t TOVRAN_BuildItemLists(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                              const int32_t *colid, const TOVRAN_Params *params, int32_t first,
                              int32_t last, int32_t *counts, int32_t *ind, float *val);

/* The item model of params (kind 1 or 2; nthreads plays no part) over nrows
 * users and ncols items with the given lists: counts[i] entries for item i,
 * every item's list in item order in ind and val (copied). With the lists
 * TOVRAN_BuildItemLists gives for the same pairs and params it is the model
 * TOVRAN_Build gives. NULL on invalid parameters, a count outside
 * 0..TOVRAN_ItemListRoom, a neighbour outside 0..ncols-1 or exhausted
 * memory. The caller owns the model. */
TOVRAN_API
Model *TOVRAN_AssembleItemModel(int32_t nrows, int32_t ncols, const TOVRAN_Params *params,
                                const int32_t *counts, const int32_t *ind, const float *val);

/* As TOVRAN_Recommend, also writing the score of each answer (the value
 * the ranking compared) to scores[0..m-1] unless scores is NULL. Returns
 * the number m of answers; -1 when the model or a needed array is NULL, n is
 * negative or a basket item lies outside the model's items (nothing written). Uses the
 * model's own scratch: one query per model at a time. A similar-items
 * answer is the answer for a basket of one item. */
TOVRAN_API
int32_t TOVRAN_RecommendScored(Model *model, int32_t n, const int32_t *basket, int32_t N,
                               int32_t *rcmds, float *scores);

/* Answers nbaskets baskets on nthreads threads (1..TOVRAN_MAX_THREADS).
 * Basket b holds items[offsets[b] .. offsets[b+1]-1] (offsets: nbaskets+1
 * non-decreasing values >= 0). Its answers go to rcmds[b*N .. b*N+N-1], their
 * scores to the same places of scores and their number to counts[b] (scores
 * and counts may be NULL); slots past the answers hold -1 and 0.0. Every
 * answer equals TOVRAN_RecommendScored's for the same basket. The model is
 * only read (each thread has its own scratch), so a batch may run while
 * other batches or TOVRAN_RecommendWith calls use the model. Returns 0, or
 * -1 with nothing written when an argument is invalid, and -1 with the
 * arrays undefined when memory is exhausted or a thread cannot start. */
TOVRAN_API
int32_t TOVRAN_RecommendBatch(const Model *model, int32_t nbaskets, const int64_t *offsets,
                              const int32_t *items, int32_t N, int32_t nthreads, int32_t *rcmds,
                              float *scores, int32_t *counts);

/* What a query may leave out, restrict itself to or add. A record of zeros
 * asks for the answers of TOVRAN_RecommendScored.
 * - filter_items: nfilter ids never recommended.
 * - items: unless NULL, the nitems ids (nitems >= 0) the answer is drawn
 *   from. Every listed item is then ranked, up to N: first those the model
 *   scores, by score as usual; then those it does not, scored 0.0, in the
 *   order listed (in the popularity ranking's order under fallback, items
 *   no pair holds last in the order listed); then the basket's own items,
 *   scored -infinity, in the order listed. Repeats count once.
 * - keep_basket: nonzero lets basket items be recommended. They are scored
 *   as any other item: an item model sums the lists of every basket item
 *   (an item's own list never holds it, so a basket item collects only what
 *   the other basket items give it), the user-based model sums the rows of
 *   the neighbours, the popularity model gives its count.
 * - fallback: nonzero fills an answer shorter than N from the popularity
 *   ranking of the model's pairs, best first, skipping items already listed,
 *   filtered, or (unless keep_basket) in the basket; the added items are
 *   scored 0.0. Every model built by this library carries the ranking; one
 *   loaded from a file of format version 1 does not, and fallback on it is
 *   an error.
 * Ids outside the model's items in either list are an error. The work on
 * the lists is in proportion to their lengths, never to the catalogue. */
typedef struct TOVRAN_QueryOptions {
  const int32_t *filter_items;
  int32_t nfilter;
  const int32_t *items;
  int32_t nitems;
  int32_t keep_basket;
  int32_t fallback;
} TOVRAN_QueryOptions;

/* As TOVRAN_RecommendScored with the options of options (NULL: none; only
 * read). Returns the number of answers, or -1 with the reason in
 * TOVRAN_LastError on invalid arguments, options or a basket item outside
 * the model's items (nothing written). One query per model at a time. */
TOVRAN_API
int32_t TOVRAN_RecommendFiltered(Model *model, int32_t n, const int32_t *basket, int32_t N,
                                 const TOVRAN_QueryOptions *options, int32_t *rcmds, float *scores);

/* As TOVRAN_RecommendFiltered, writing scratch (TOVRAN_CreateScratch for
 * this model) instead of the model's own arrays: the model is only read, so
 * queries with distinct scratches may run at the same time, for a server's
 * threads for example. Same answers, same errors; a null scratch is one. */
TOVRAN_API
int32_t TOVRAN_RecommendFilteredWith(const Model *model, TOVRAN_Scratch *scratch, int32_t n,
                                     const int32_t *basket, int32_t N,
                                     const TOVRAN_QueryOptions *options, int32_t *rcmds,
                                     float *scores);

/* As TOVRAN_RecommendBatch, every basket answered with the same options
 * (NULL: none): each answer equals TOVRAN_RecommendFiltered's for its
 * basket. The model is only read. */
TOVRAN_API
int32_t TOVRAN_RecommendFilteredBatch(const Model *model, int32_t nbaskets, const int64_t *offsets,
                                      const int32_t *items, int32_t N, int32_t nthreads,
                                      const TOVRAN_QueryOptions *options, int32_t *rcmds,
                                      float *scores, int32_t *counts);

/* The users most like user (user-based model only): every other user who
 * holds one of user's training items, by the cosine of the two users'
 * row-normalised training rows (products and sums in double, rounded once
 * to single precision), best first with the ranking's ties, user itself
 * first with score 1.0 unless it holds no pair. Writes up to N ids to users
 * and, unless scores is NULL, their scores. Returns the number written, or
 * -1 with the reason in TOVRAN_LastError when the model is not user-based,
 * user lies outside its users or an array is NULL. One query per model at
 * a time. */
TOVRAN_API
int32_t TOVRAN_SimilarUsers(Model *model, int32_t user, int32_t N, int32_t *users, float *scores);

/* The Alpha estimation's steps: alpha[j] = j * 0.1 (single precision, as
 * the model receives it) for j < ntried, with the hit count of the re-split
 * in hits[j]. */
#define TOVRAN_ALPHA_STEPS 10
typedef struct TOVRAN_AlphaTrace {
  int32_t ntried;                   /* 1..TOVRAN_ALPHA_STEPS */
  float alpha[TOVRAN_ALPHA_STEPS];  /* every entry filled */
  int32_t hits[TOVRAN_ALPHA_STEPS]; /* the first ntried entries */
} TOVRAN_AlphaTrace;

/* As TOVRAN_EstimateAlphaInitThreads with params->nnbr, params->min_support
 * and params->nthreads (its kind and alpha play no part) and N
 * recommendations per user: writes the estimate to *alpha and, unless trace
 * is NULL, every step tried to *trace. Draws from the same process-wide
 * generator. Returns 0, or -1 on invalid arguments, exhausted memory or a
 * thread that cannot start. */
TOVRAN_API
int32_t TOVRAN_EstimateAlpha(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                             const int32_t *colid, const TOVRAN_Params *params, int32_t N,
                             double *alpha, TOVRAN_AlphaTrace *trace);

/* Hit count of a trial of the estimation at alpha, for TOVRAN_WalkAlpha:
 * at least 0, or negative when it could not be counted. */
typedef int32_t (*TOVRAN_CountHits)(float alpha, void *context);

/* The walk of TOVRAN_EstimateAlpha over its alphas, for a caller that
 * carries out the trials itself (on the re-split of TOVRAN_ResplitPairs):
 * asks count_hits(alpha, context) for alpha 0.0, 0.1, ... in turn, as the
 * model receives them, until the count first falls, and writes the
 * estimate to *alpha and, unless trace is NULL, every step tried to
 * *trace, as TOVRAN_EstimateAlpha does. Returns 0, or -1 when count_hits
 * or alpha is NULL or a count is negative. */
TOVRAN_API
int32_t TOVRAN_WalkAlpha(TOVRAN_CountHits count_hits, void *context, double *alpha,
                         TOVRAN_AlphaTrace *trace);

/* The re-split TOVRAN_EstimateAlpha tries its alphas on, for a caller that
 * carries out the trials itself: draws from the same process-wide generator
 * (after TOVRAN_RestartRandom, the re-split of a fresh process's first
 * estimate), shuffles a copy of the pairs and holds out the first shuffled
 * pair of every user as test[u] (-1 for a user without pairs). The other
 * pairs go to train_rowid and train_colid (room for npairs each), user by
 * user in user order: trial alpha's hit count is the number of users whose
 * training items, asked of the type 2 model of those pairs with that alpha
 * for N items, give their test item. Returns the number of training pairs,
 * or -1 on invalid pairs, null arrays or exhausted memory. */
TOVRAN_API
int32_t TOVRAN_ResplitPairs(int32_t nrows, int32_t ncols, int32_t npairs, const int32_t *rowid,
                            const int32_t *colid, int32_t *train_rowid, int32_t *train_colid,
                            int32_t *test);

/* Model files: the layout of docs/model-format.md (versioned,
 * little-endian, a CRC-32 over the whole file). */

/* Writes model to path, replacing an earlier file only once the new one is
 * complete. Returns 0, or -1 (the earlier file unchanged; an empty path is
 * refused before anything is written). */
TOVRAN_API
int32_t TOVRAN_SaveModel(const Model *model, const char *path);

/* Reads a model written by TOVRAN_SaveModel; it answers bit for bit as the
 * saved model did. Every count and index is checked before use; NULL when
 * the file cannot be read, is truncated, has a wrong magic, a newer format
 * version, a checksum mismatch or inconsistent contents. The caller owns
 * the model. */
TOVRAN_API
Model *TOVRAN_LoadModel(const char *path);

/* The format version in the header of the model file at path, after the
 * checks of its first bytes TOVRAN_LoadModel makes (magic, a version this
 * library reads); 0 with the reason in TOVRAN_LastError when the file
 * cannot be read or does not begin a model file this library reads. Only
 * the header is read. */
TOVRAN_API
uint32_t TOVRAN_ModelFileVersion(const char *path);

/* What a model was built from and with. */
typedef struct TOVRAN_ModelInfo {
  TOVRAN_Params params; /* min_support 0 for kind 3; nthreads 1 */
  int32_t nusers;       /* users of the pairs */
  int32_t nitems;       /* accepted item ids are 0..nitems-1 */
  int64_t nentries;     /* neighbour entries (kinds 1, 2), pairs (kind 3) or ranked items (0) */
  int32_t npopular;     /* items in the popularity ranking; -1 when the model carries none */
} TOVRAN_ModelInfo;

/* Fills *info for model; 0, or -1 when either is NULL. */
TOVRAN_API
int32_t TOVRAN_GetModelInfo(const Model *model, TOVRAN_ModelInfo *info);

#ifdef __cplusplus
}
#endif

#endif /* TOVRAN_H */
