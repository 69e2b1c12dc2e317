// The trees the benchmarks delete and erase, the same shape as scripts/bench
// makes for Wine: directories five deep, ten files in each, listed with
// every directory before its contents (the worst order for the passes).
#ifndef ZELK_BENCH_TREE_H
#define ZELK_BENCH_TREE_H

#include <string>
#include <vector>

namespace bench {

constexpr int kDepth = 5;
constexpr int kFilesPerDirectory = 10;

struct Entry {
  std::string path;  // relative to the program directory
  bool directory;
};

// The smallest number of subdirectories per directory whose full tree
// holds `count` entries.
inline int FanoutFor(size_t count) {
  for (int fanout = 1;; fanout++) {
    size_t directories = 0, level = 1;
    for (int depth = 1; depth <= kDepth; depth++) directories += level *= fanout;
    if (directories * (kFilesPerDirectory + 1) >= count) return fanout;
  }
}

inline void Fill(std::vector<Entry> &out, const std::string &directory, int depth, int fanout,
                 size_t count) {
  if (out.size() >= count) return;
  out.push_back({directory, true});
  for (int i = 0; i < kFilesPerDirectory && out.size() < count; i++)
    out.push_back({directory + "\\f" + std::to_string(i) + ".txt", false});
  if (depth < kDepth)
    for (int i = 0; i < fanout && out.size() < count; i++)
      Fill(out, directory + "\\d" + std::to_string(i), depth + 1, fanout, count);
}

// Exactly `count` entries, in the worst order.
inline std::vector<Entry> WorstOrderTree(size_t count) {
  std::vector<Entry> out;
  int fanout = FanoutFor(count);
  for (int i = 0; out.size() < count; i++) Fill(out, "d" + std::to_string(i), 1, fanout, count);
  return out;
}

// Key paths below the product key: all side by side, or ten to a key.
inline std::vector<std::string> KeyBranch(size_t count, bool nested) {
  std::vector<std::string> keys;
  if (!nested) {
    for (size_t i = 0; i < count; i++) keys.push_back("Key" + std::to_string(i));
    return keys;
  }
  // Breadth first, so that each key's parent comes before it.
  for (size_t i = 0; keys.size() < count; i++) {
    std::string parent = i == 0 ? "" : keys[i - 1] + "\\";
    for (int child = 0; child < 10 && keys.size() < count; child++)
      keys.push_back(parent + "K" + std::to_string(child));
  }
  return keys;
}

}  // namespace bench

#endif
