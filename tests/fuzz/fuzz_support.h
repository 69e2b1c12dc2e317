// What the fuzz targets share: a failed property aborts with a readable
// reason (libFuzzer then keeps the input), and a byte reader that hands out
// zeros once the input is used up, so that every input means something.
#ifndef ZELK_FUZZ_SUPPORT_H
#define ZELK_FUZZ_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/host/sim.h"

#define FUZZ_CHECK(condition, what)                                              \
  do {                                                                           \
    if (!(condition)) {                                                          \
      std::fprintf(stderr, "property failed at %s:%d: %s\n  %s\n", __FILE__,     \
                   __LINE__, #condition, std::string(what).c_str());             \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

namespace fuzz {

class Bytes {
 public:
  Bytes(const unsigned char *data, size_t size) : data_(data), size_(size) {}
  unsigned Next() { return at_ < size_ ? data_[at_++] : 0; }
  bool Empty() const { return at_ >= size_; }
  std::string Rest() {
    std::string rest(reinterpret_cast<const char *>(data_ + at_), size_ - at_);
    at_ = size_;
    return rest;
  }

 private:
  const unsigned char *data_;
  size_t size_;
  size_t at_ = 0;
};

inline std::string Lower(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return text;
}

inline bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Every problem the simulation saw and every handle still open fail the
// run, as they fail a unit test.
inline void CheckSimulationClean(const std::string &what) {
  FUZZ_CHECK(SimOpenHandleCount() == 0, what + ": " + SimOpenHandleReport());
  std::string problems;
  for (const std::string &problem : SimProblems()) problems += problem + "; ";
  FUZZ_CHECK(problems.empty(), what + ": " + problems);
}

}  // namespace fuzz

#endif
