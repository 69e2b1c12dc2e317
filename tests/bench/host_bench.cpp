// Scaling of the deletion passes and of the key-branch erase on the host
// simulation. Each case first runs once untimed with the call log on, to
// count passes and calls by name; the timed runs keep the log off.
//
//   passes    entries, passes, attempts (deletion calls), entry_passes
//             (what trying every entry in every pass would attempt), calls,
//             and the time per attempt and per call
//   erase     keys, passes, calls, delete_calls (RegDeleteKeyA), and the time
//             per call
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "bench_tree.h"
#include "platform/host/sim.h"
#include "settings/keytree.h"
#include "settings/settings.h"
#include "uninstall/uninstall.h"

namespace {

const std::string kPrefix = "C:\\Program Files\\Zelk\\";
const std::string kList = kPrefix + "Uninstall.lst";

long Count(const std::string &function) {
  return (long)std::count(SimCalls().begin(), SimCalls().end(), function);
}

void MakeInstallation(const std::vector<bench::Entry> &tree, const std::string &list) {
  SimReset();
  SimSetCallLogging(false);
  for (const bench::Entry &entry : tree) {
    if (entry.directory)
      SimAddDirectory(kPrefix + entry.path);
    else
      SimAddFile(kPrefix + entry.path);
  }
  SimAddFile(kList, list);
}

// Runs the passes; answers the simulated calls they made.
long RunPasses() {
  FileStream *stream = OpenStream(kList.c_str(), "rb");
  long before = SimCallCount();
  DeleteListedEntries(stream, kPrefix.c_str());
  long calls = SimCallCount() - before;
  CloseStream(stream);
  return calls;
}

void Passes(benchmark::State &state) {
  const size_t count = (size_t)state.range(0);
  const std::vector<bench::Entry> tree = bench::WorstOrderTree(count);
  std::string list;
  for (const bench::Entry &entry : tree) list += entry.path + "\r\n";

  MakeInstallation(tree, list);
  SimSetCallLogging(true);
  const long calls = RunPasses();
  const long passes = Count("RewindStream") + 1;
  const long attempts = Count("DeleteFileA") + Count("RemoveDirectoryA");
  if (SimDeletions().size() != count) state.SkipWithError("the passes left entries behind");

  for (auto _ : state) {
    state.PauseTiming();
    MakeInstallation(tree, list);
    state.ResumeTiming();
    benchmark::DoNotOptimize(RunPasses());
  }
  state.counters["entries"] = (double)count;
  state.counters["passes"] = (double)passes;
  state.counters["attempts"] = (double)attempts;
  state.counters["entry_passes"] = (double)(count * passes);
  state.counters["calls"] = (double)calls;
  using C = benchmark::Counter;
  state.counters["per_attempt"] =
      C((double)attempts, C::kIsIterationInvariantRate | C::kInvert);
  state.counters["per_call"] = C((double)calls, C::kIsIterationInvariantRate | C::kInvert);
}

void MakeBranch(const std::vector<std::string> &keys, DWORD platform) {
  SimReset();
  SimSetCallLogging(false);
  SimSetPlatformId(platform);
  SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk");
  for (const std::string &key : keys)
    SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk\\" + key);
  SelectSettingsRoot(HKEY_CURRENT_USER);
}

// state.range: keys, nested (0/1), platform id (1 the Windows 95 family,
// 2 the NT family).
void Erase(benchmark::State &state) {
  const size_t count = (size_t)state.range(0);
  const std::vector<std::string> keys = bench::KeyBranch(count, state.range(1) != 0);
  const DWORD platform = (DWORD)state.range(2);

  // The counting run repeats the erase's own loop to see its passes.
  MakeBranch(keys, platform);
  SimSetCallLogging(true);
  long passes = 0;
  long before = SimCallCount();
  do {
    ErasedKeyCount = 0;
    EraseBranchPass("Software\\Zelk");
    passes++;
  } while (ErasedKeyCount != 0);
  const long calls = SimCallCount() - before;
  const long deletions = Count("RegDeleteKeyA");
  if (SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk"))
    state.SkipWithError("the erase left the product key");

  for (auto _ : state) {
    state.PauseTiming();
    MakeBranch(keys, platform);
    state.ResumeTiming();
    EraseKeyBranch("Software\\Zelk");
  }
  state.SetLabel(std::string(state.range(1) ? "nested" : "flat") +
                 (platform == VER_PLATFORM_WIN32_WINDOWS ? " 95-family" : " NT-family"));
  state.counters["keys"] = (double)count;
  state.counters["passes"] = (double)passes;
  state.counters["calls"] = (double)calls;
  state.counters["delete_calls"] = (double)deletions;
  using C = benchmark::Counter;
  state.counters["per_call"] = C((double)calls, C::kIsIterationInvariantRate | C::kInvert);
}

void Sizes(benchmark::internal::Benchmark *b, std::vector<int64_t> extra) {
  for (int64_t n : {1000, 3000, 10000, 30000, 100000}) {
    std::vector<int64_t> args = {n};
    args.insert(args.end(), extra.begin(), extra.end());
    b->Args(args);
  }
}

BENCHMARK(Passes)
    ->Apply([](benchmark::internal::Benchmark *b) { Sizes(b, {}); })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(Erase)
    ->Apply([](benchmark::internal::Benchmark *b) {
      for (int64_t nested : {0, 1})
        for (int64_t platform : {2, 1}) Sizes(b, {nested, platform});
    })
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
