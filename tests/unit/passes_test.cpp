// The deletion passes against a reference: a plain model that tries every
// entry in every pass over the same tree. The program skips entries that
// an earlier pass deleted; what it deletes, in what order, and how many
// passes it makes must still be the model's, while it makes fewer calls.
#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "uninstall/uninstall.h"
#include "uninstall_world.h"

using namespace world;

namespace {

std::string Lower(std::string text) {
  for (char &c : text) c = (char)std::tolower((unsigned char)c);
  return text;
}

// A tree below the program directory, as relative paths: directories
// first, each before its contents, so the list taken in this order is the
// worst for the passes.
struct Tree {
  std::vector<std::string> directories;
  std::vector<std::string> files;
  std::vector<std::string> worstOrder;  // every entry, directory before contents
};

void Grow(Tree &tree, const std::string &directory, int depth, int fanout, int filesPerDir) {
  tree.directories.push_back(directory);
  tree.worstOrder.push_back(directory);
  for (int i = 0; i < filesPerDir; i++) {
    std::string file = directory + "\\f" + std::to_string(i) + ".txt";
    tree.files.push_back(file);
    tree.worstOrder.push_back(file);
  }
  if (depth > 1)
    for (int i = 0; i < fanout; i++)
      Grow(tree, directory + "\\d" + std::to_string(i), depth - 1, fanout, filesPerDir);
}

Tree MakeTree(const std::string &top, int depth, int fanout, int filesPerDir) {
  Tree tree;
  Grow(tree, top, depth, fanout, filesPerDir);
  return tree;
}

// What the plain passes do: every listed entry is tried in every pass; a
// file goes unless held, a directory goes once nothing is left in it.
struct Reference {
  std::vector<std::string> deleted;  // full paths, in order
  int passes = 0;
  long attemptsPlain = 0;    // deletion calls of the plain passes
  long attemptsSkipping = 0;  // the same, less those after an entry's
                              // deletion on a line the program remembers
};

Reference RunReference(const std::vector<std::string> &createdDirectories,
                       const std::vector<std::string> &createdFiles,
                       const std::set<std::string> &held, const std::vector<std::string> &list) {
  std::map<std::string, std::pair<std::string, bool>> existing;  // lower -> (name, directory)
  for (const std::string &d : createdDirectories) existing[Lower(d)] = {d, true};
  for (const std::string &f : createdFiles) existing[Lower(f)] = {f, false};
  auto hasContents = [&](const std::string &key) {
    auto next = existing.upper_bound(key);
    return next != existing.end() && next->first.compare(0, key.size() + 1, key + "\\") == 0;
  };

  Reference result;
  std::vector<bool> done(list.size(), false);
  for (;;) {
    result.passes++;
    int count = 0;
    for (size_t i = 0; i < list.size(); i++) {
      if (list[i].empty()) continue;
      result.attemptsPlain++;
      // Only the first lines are remembered; later ones are tried always.
      if (!done[i] || i >= DELETED_TABLE_LINES) result.attemptsSkipping++;
      auto found = existing.find(Lower(list[i]));
      if (found == existing.end()) continue;
      bool directory = found->second.second;
      if (directory ? hasContents(found->first) : held.count(found->second.first) > 0) continue;
      result.deleted.push_back(In(found->second.first));
      existing.erase(found);
      done[i] = true;
      count++;
    }
    if (count == 0) return result;
  }
}

class PassesTest : public SimTest {
 protected:
  struct Run {
    std::vector<std::string> deleted;
    int passes = 0;
    long deletionCalls = 0;   // DeleteFileA and RemoveDirectoryA
    long attributeCalls = 0;  // GetFileAttributesA and SetFileAttributesA
  };

  Run RunPasses(const std::vector<std::string> &list) {
    std::string bytes;
    for (const std::string &line : list) bytes += line + "\r\n";
    SimAddFile(kList, bytes);
    FileStream *stream = OpenStream(kList.c_str(), "rb");
    Run run;
    EXPECT_NE(stream, nullptr);
    if (!stream) return run;
    SimClearCalls();
    DeleteListedEntries(stream, kPrefix.c_str());
    for (const std::string &call : SimCalls()) {
      if (call == "RewindStream") run.passes++;
      if (call == "DeleteFileA" || call == "RemoveDirectoryA") run.deletionCalls++;
      if (call == "GetFileAttributesA" || call == "SetFileAttributesA") run.attributeCalls++;
    }
    run.passes++;
    CloseStream(stream);
    for (const SimDeletion &deletion : SimDeletions()) run.deleted.push_back(deletion.path);
    return run;
  }
};

std::vector<std::string> Blank(size_t lines) { return std::vector<std::string>(lines, ""); }

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(PassesTest, SkippingDeletedEntriesKeepsDeletionsAndPassesOfThePlainPasses) {
  const Tree deep = MakeTree("App", 5, 2, 3);
  std::vector<std::string> bestOrder = deep.files;
  std::vector<std::string> deepestFirst = deep.directories;
  std::stable_sort(deepestFirst.begin(), deepestFirst.end(),
                   [](const std::string &a, const std::string &b) {
                     return std::count(a.begin(), a.end(), '\\') >
                            std::count(b.begin(), b.end(), '\\');
                   });
  bestOrder = bestOrder + deepestFirst;

  // Each entry of the tree twice in a row, once in another case, with a
  // missing entry between the two.
  std::vector<std::string> doubled;
  for (const std::string &entry : deep.worstOrder) {
    doubled.push_back(entry);
    doubled.push_back("App\\missing.txt");
    doubled.push_back(Lower(entry));
  }
  const size_t table = DELETED_TABLE_LINES;

  struct Case {
    const char *what;
    std::vector<std::string> list;
    std::set<std::string> held;  // files that stay in use
  } cases[] = {
      {"directories before their contents", deep.worstOrder, {}},
      {"files first, then directories deepest first", bestOrder, {}},
      {"duplicates and missing entries", doubled, {}},
      {"a held file keeps its directories", deep.worstOrder, {"App\\d1\\d0\\f2.txt"}},
      {"the whole list beyond the table", Blank(table) + deep.worstOrder, {}},
      {"the list across the end of the table", Blank(table - 20) + doubled, {}},
  };
  for (const Case &c : cases) {
    SimReset();
    for (const std::string &d : deep.directories) SimAddDirectory(In(d));
    for (const std::string &f : deep.files) SimAddFile(In(f));
    for (const std::string &f : c.held) SimSetInUse(In(f), true);

    const Reference expected = RunReference(deep.directories, deep.files, c.held, c.list);
    const Run run = RunPasses(c.list);
    EXPECT_EQ(run.deleted, expected.deleted) << c.what;
    EXPECT_EQ(run.passes, expected.passes) << c.what;
    // One deletion call for each attempt, none after an entry went.
    EXPECT_EQ(run.deletionCalls, expected.attemptsSkipping) << c.what;
  }
}

TEST_F(PassesTest, TheSkippedAttemptsAreTheSavedCalls) {
  // Each plain attempt reads and clears the attributes and makes one
  // deletion call, so the plain passes make at least three such calls per
  // attempt; skipping the deleted entries leaves far fewer.
  const Tree deep = MakeTree("App", 5, 2, 3);
  for (const std::string &d : deep.directories) SimAddDirectory(In(d));
  for (const std::string &f : deep.files) SimAddFile(In(f));
  const Reference expected = RunReference(deep.directories, deep.files, {}, deep.worstOrder);
  ASSERT_EQ(expected.passes, 7);

  const Run run = RunPasses(deep.worstOrder);
  EXPECT_EQ(run.passes, 7);
  EXPECT_EQ(run.deletionCalls, expected.attemptsSkipping);
  EXPECT_LT(run.deletionCalls * 2, expected.attemptsPlain);
  EXPECT_LT(run.deletionCalls + run.attributeCalls, 3 * expected.attemptsPlain);
  EXPECT_FALSE(SimPathExists(In("App")));
}

}  // namespace
