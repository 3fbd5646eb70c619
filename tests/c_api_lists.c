/* Written in C against the shared library, so that the public header is
 * compiled as C and the exported entries are the ones used.
 *
 *   c_api_lists --self-test
 *       checks the entries on a hand-made example; exit status 0 when all hold.
 *   c_api_lists FILE TYPE NNBR ALPHA N
 *       builds a model from every pair of FILE (the program's format) and
 *       prints "user: item item ..." with the N recommendations for each
 *       user's items, users in file order.
 *   c_api_lists FILE estimate NNBR N
 *       prints the estimated alpha with 17 significant digits. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tovran.h"

/* The pairs of a file in the program's format. */
typedef struct {
  int32_t nrows, ncols, npairs;
  int32_t *rowid, *colid;
} Pairs;

/* Reads fname into *p; returns 0, or 1 with a message on standard error. */
static int ReadPairs(const char *fname, Pairs *p) {
  FILE *in = fopen(fname, "r");
  int32_t i;
  if (in == NULL || fscanf(in, "%d %d %d", &p->nrows, &p->ncols, &p->npairs) != 3) {
    fprintf(stderr, "cannot read %s\n", fname);
    if (in != NULL) fclose(in);
    return 1;
  }
  p->rowid = malloc(sizeof(int32_t) * (size_t)(p->npairs + 1));
  p->colid = malloc(sizeof(int32_t) * (size_t)(p->npairs + 1));
  for (i = 0; i < p->npairs; i++) {
    if (fscanf(in, "%d %d", &p->rowid[i], &p->colid[i]) != 2) {
      fprintf(stderr, "pair %d of %s is missing\n", i + 1, fname);
      fclose(in);
      return 1;
    }
  }
  fclose(in);
  return 0;
}

/* Prints the recommendations for every run of one user's pairs. */
static void PrintLists(const Pairs *p, Model *model, int32_t N) {
  int32_t *rcmds = malloc(sizeof(int32_t) * (size_t)(N > 0 ? N : 1));
  int32_t f = 0, i, t;
  for (i = 0; i < p->npairs; i++) {
    int32_t n;
    if (i + 1 < p->npairs && p->rowid[i + 1] == p->rowid[i]) continue;
    n = TOVRAN_Recommend(model, i - f + 1, p->colid + f, N, rcmds);
    printf("%d:", p->rowid[i]);
    for (t = 0; t < n; t++) printf(" %d", rcmds[t]);
    printf("\n");
    f = i + 1;
  }
  free(rcmds);
}

#define CHECK(cond)                                            \
  do {                                                         \
    if (!(cond)) {                                             \
      fprintf(stderr, "line %d: %s fails\n", __LINE__, #cond); \
      failures++;                                              \
    }                                                          \
  } while (0)

/* Item 0 goes with 1 and 2 for three users, item 3 with 4 for three others;
 * every item has at least three users, so each has neighbours. */
static int SelfTest(void) {
  static const int32_t rowid[] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 4, 4, 5, 5};
  static const int32_t colid[] = {0, 1, 2, 0, 1, 2, 0, 1, 2, 3, 4, 3, 4, 3, 4};
  int failures = 0, type;
  for (type = TOVRAN_ITEM_COSINE; type <= TOVRAN_USER_BASED; type++) {
    int32_t rcmds[5] = {-7, -7, -7, -7, -7};
    const int32_t basket[] = {0};
    const int32_t outside[] = {5};
    int32_t n, t;
    Model *model = TOVRAN_BuildModel(6, 5, 15, rowid, colid, type, 3, 0.5f);
    CHECK(model != NULL);
    n = TOVRAN_Recommend(model, 1, basket, 5, rcmds);
    CHECK(n == 2);
    for (t = 0; t < n; t++) CHECK(rcmds[t] == 1 || rcmds[t] == 2);
    CHECK(n < 2 || rcmds[0] != rcmds[1]);
    CHECK(TOVRAN_Recommend(model, 1, outside, 5, rcmds) == -1);
    CHECK(TOVRAN_Recommend(model, 1, basket, 0, rcmds) == 0);
    TOVRAN_FreeModel(model);
  }
  TOVRAN_FreeModel(NULL);
  {
    double first, again;
    TOVRAN_RestartRandom();
    first = TOVRAN_EstimateAlphaInit(6, 5, 15, rowid, colid, 2, 2);
    TOVRAN_RestartRandom();
    again = TOVRAN_EstimateAlphaInit(6, 5, 15, rowid, colid, 2, 2);
    CHECK(first >= 0.0 && first <= 1.0);
    CHECK(first == again);
  }
  return failures == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
  Pairs p;
  if (argc == 2 && strcmp(argv[1], "--self-test") == 0) return SelfTest();
  if (argc == 5 && strcmp(argv[2], "estimate") == 0) {
    if (ReadPairs(argv[1], &p) != 0) return 1;
    printf("%.17g\n", TOVRAN_EstimateAlphaInit(p.nrows, p.ncols, p.npairs, p.rowid, p.colid,
                                               atoi(argv[3]), atoi(argv[4])));
    return 0;
  }
  if (argc == 6) {
    Model *model;
    if (ReadPairs(argv[1], &p) != 0) return 1;
    model = TOVRAN_BuildModel(p.nrows, p.ncols, p.npairs, p.rowid, p.colid, atoi(argv[2]),
                              atoi(argv[3]), (float)atof(argv[4]));
    PrintLists(&p, model, atoi(argv[5]));
    TOVRAN_FreeModel(model);
    return 0;
  }
  fprintf(stderr, "usage: %s --self-test | FILE TYPE NNBR ALPHA N | FILE estimate NNBR N\n",
          argv[0]);
  return 1;
}
