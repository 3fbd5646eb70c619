// Builds an item-cosine model of two groups of items and asks it for the
// items that go with item 0. Prints "1 2" and exits with 0 when right.
#include <tovran.h>

#include <cstdio>
#include <vector>

int main() {
  const std::vector<int32_t> users = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 4, 4, 5, 5};
  const std::vector<int32_t> items = {0, 1, 2, 0, 1, 2, 0, 1, 2, 3, 4, 3, 4, 3, 4};
  Model *model = TOVRAN_BuildModel(6, 5, int32_t(users.size()), users.data(), items.data(),
                                   TOVRAN_ITEM_COSINE, 20, 0.0f);
  const int32_t basket[] = {0};
  int32_t rcmds[10];
  const int32_t n = TOVRAN_Recommend(model, 1, basket, 10, rcmds);
  TOVRAN_FreeModel(model);
  for (int32_t t = 0; t < n; t++) std::printf(t ? " %d" : "%d", rcmds[t]);
  std::printf("\n");
  return n == 2 && rcmds[0] + rcmds[1] == 3 ? 0 : 1;
}
