/* The same question from C: the items that go with item 3. */
#include <stdio.h>
#include <tovran.h>

int main(void) {
  static const int32_t users[] = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 4, 4, 5, 5};
  static const int32_t items[] = {0, 1, 2, 0, 1, 2, 0, 1, 2, 3, 4, 3, 4, 3, 4};
  const int32_t basket[] = {3};
  int32_t rcmds[10];
  int32_t n;
  Model *model = TOVRAN_BuildModel(6, 5, 15, users, items, TOVRAN_USER_BASED, 50, 0.0f);
  n = TOVRAN_Recommend(model, 1, basket, 10, rcmds);
  TOVRAN_FreeModel(model);
  printf("%d\n", n > 0 ? rcmds[0] : -1);
  return n == 1 && rcmds[0] == 4 ? 0 : 1;
}
