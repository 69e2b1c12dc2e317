#include "settings/keytree.h"

#include <algorithm>
#include <string>
#include <vector>

#include "fixture.h"
#include "settings/settings.h"

namespace {

const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;
using Names = std::vector<std::string>;

class KeyTree : public SimTest {};

long Opens() { return std::count(SimCalls().begin(), SimCalls().end(), "RegOpenKeyExA"); }

void SeedFour(HKEY root) {
  for (const char *name : {"A", "B", "C", "D"})
    SimRegistryPutKey(root, std::string("Software\\Zelk\\") + name);
}

struct ErasePasses {
  DWORD platform;
  std::vector<Names> passes;  // deletions of each pass, the last one empty
  long opens;                 // of the branch and of the subkeys visited
};

class FourSubkeyErase : public KeyTree, public ::testing::WithParamInterface<ErasePasses> {};

// NT refuses a key with subkeys, and every deletion moves the next subkey
// down under the rising index; the Windows 95 family takes the rest along.
TEST_P(FourSubkeyErase, PassByPassAndWhole) {
  SimSetPlatformId(GetParam().platform);
  SeedFour(kUser);
  size_t seen = 0;
  for (const Names &expected : GetParam().passes) {
    ErasedKeyCount = 0;
    EraseBranchPass("Software\\Zelk");
    Names deleted(SimRegistryDeletions().begin() + seen, SimRegistryDeletions().end());
    seen = SimRegistryDeletions().size();
    EXPECT_EQ(deleted, expected);
    EXPECT_EQ(ErasedKeyCount, (LONG)expected.size());
  }

  // The whole erase: the same deletions in the same order, pass after pass.
  Names all = SimRegistryDeletions();
  SimReset();
  SimSetPlatformId(GetParam().platform);
  SeedFour(kUser);
  EraseKeyBranch("Software\\Zelk");
  EXPECT_EQ(SimRegistryDeletions(), all);
  EXPECT_EQ(Opens(), GetParam().opens);
  EXPECT_EQ(ErasedKeyCount, 0);
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk"));
  EXPECT_TRUE(SimRegistryKeyExists(kUser, "Software"));
}

INSTANTIATE_TEST_SUITE_P(
    KeyTree, FourSubkeyErase,
    ::testing::Values(
        ErasePasses{VER_PLATFORM_WIN32_NT,
                    {{"HKCU\\Software\\Zelk\\A", "HKCU\\Software\\Zelk\\C"},
                     {"HKCU\\Software\\Zelk\\B"},
                     {"HKCU\\Software\\Zelk\\D", "HKCU\\Software\\Zelk"},
                     {}},
                    3 + 2 + 2 + 1},
        ErasePasses{VER_PLATFORM_WIN32_WINDOWS,
                    {{"HKCU\\Software\\Zelk\\A", "HKCU\\Software\\Zelk\\C", "HKCU\\Software\\Zelk"},
                     {}},
                    3 + 1}),
    [](const ::testing::TestParamInfo<ErasePasses> &info) {
      return std::string(info.param.platform == VER_PLATFORM_WIN32_NT ? "NT" : "Win95");
    });

TEST_F(KeyTree, EraseActsUnderTheSelectedRootOnly) {
  SimRegistryPutText(kUser, "Software\\Zelk\\Highlight", "v", "user");
  SimRegistryPutText(kMachine, "Software\\Zelk\\Highlight", "v", "machine");
  std::string userBefore = SimRegistryDump(kUser, "Software\\Zelk");
  SelectSettingsRoot(kMachine);
  EraseKeyBranch("Software\\Zelk");
  EXPECT_FALSE(SimRegistryKeyExists(kMachine, "Software\\Zelk"));
  EXPECT_EQ(SimRegistryDump(kUser, "Software\\Zelk"), userBefore);
}

TEST_F(KeyTree, EraseOfNothingOrOfALeaf) {
  EraseKeyBranch("Software\\Zelk");
  EXPECT_EQ(SimCalls(), Names{"RegOpenKeyExA"});

  SimRegistryPutText(kUser, "Software\\Zelk", "v", "x");
  SimClearCalls();
  EraseKeyBranch("Software\\Zelk");  // two passes: the key, then nothing
  EXPECT_EQ(SimCalls(), (Names{"RegOpenKeyExA", "RegEnumKeyExA", "RegDeleteKeyA", "RegCloseKey",
                               "RegOpenKeyExA"}));
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk"));
}

// What cannot go stays, with the keys above it; the erase still ends.
TEST_F(KeyTree, EraseLeavesWhatCannotBeDeleted) {
  for (const char *name : {"A\\Locked\\Inner", "A\\Free", "B"})
    SimRegistryPutKey(kUser, std::string("Software\\Zelk\\") + name);
  SimRegistryRefuseDelete(kUser, "Software\\Zelk\\A\\Locked");
  EraseKeyBranch("Software\\Zelk");
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk"), Names{"A"});
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\A"), Names{"Locked"});
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\A\\Locked"), Names{"Inner"});

  // Unopenable, the branch is left whole after one pass.
  SimReset();
  SimRegistryPutKey(kUser, "Software\\Zelk\\A");
  SimRegistryRefuseOpen(kUser, "Software\\Zelk", KEY_ALL_ACCESS);
  EraseKeyBranch("Software\\Zelk");
  EXPECT_TRUE(SimRegistryKeyExists(kUser, "Software\\Zelk\\A"));
  EXPECT_EQ(SimRegistryDeletions(), Names{});
}

// A name of 200 characters does not fit the enumeration's buffer: the
// subkeys from there on are not visited, in the erase as in the copy.
TEST_F(KeyTree, SubkeyNameOf200CharactersEndsTheEnumeration) {
  std::string longName(200, 'k');
  for (std::string name : {std::string("A"), longName, std::string("z")})
    SimRegistryPutKey(kUser, "Software\\Zelk\\Src\\" + name);
  EXPECT_EQ(CopyKeyBranch("Software\\Zelk\\Src", "Software\\Zelk\\Dst"), 1);
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\Dst"), Names{"A"});

  EraseKeyBranch("Software\\Zelk\\Src");
  // "z" moved down past the deleted "A" and was visited; the long name not.
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\Src"), Names{longName});

  std::string fits(199, 'k');
  SimRegistryPutKey(kUser, "Software\\Zelk\\Fits\\" + fits);
  EraseKeyBranch("Software\\Zelk\\Fits");
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk\\Fits"));
}

TEST_F(KeyTree, CopyOntoAnExistingTargetLeavesExactlyTheSource) {
  const std::string src = "Software\\Zelk\\Src", dst = "Software\\Zelk\\Dst";
  SimRegistryPutText(kUser, src, "", "default");
  SimRegistryPutNumber(kUser, src, "Number", 2);
  SimRegistryPutValue(kUser, src, "Exactly1000", REG_BINARY, std::vector<BYTE>(1000, 0x31));
  SimRegistryPutValue(kUser, src + "\\X\\Y", "Odd", 11, {1, 2, 3});
  SimRegistryPutKey(kUser, src + "\\Empty");
  SimRegistryPutText(kUser, dst, "Stale", "old");
  SimRegistryPutText(kUser, dst, "Number", "not a number");
  SimRegistryPutText(kUser, dst + "\\X", "Gone", "old");
  SimRegistryPutKey(kUser, dst + "\\Old\\Older");
  std::string source = SimRegistryDump(kUser, src);

  EXPECT_EQ(CopyKeyBranch(src.c_str(), dst.c_str()), 1);
  EXPECT_EQ(SimRegistryDump(kUser, dst), source);
  EXPECT_EQ(SimRegistryDump(kUser, src), source);
}

TEST_F(KeyTree, ValueOver1000BytesEndsTheValuesNotTheSubkeys) {
  const std::string src = "Software\\Zelk\\Src";
  SimRegistryPutText(kUser, src, "a", "a");
  SimRegistryPutValue(kUser, src, "b", REG_BINARY, std::vector<BYTE>(1001, 0));
  SimRegistryPutText(kUser, src, "c", "c");
  SimRegistryPutText(kUser, src + "\\K", "k", "k");
  EXPECT_EQ(CopyKeyBranch(src.c_str(), "Software\\Zelk\\Dst"), 1);
  EXPECT_EQ(SimRegistryValues(kUser, "Software\\Zelk\\Dst"), Names{"a"});
  EXPECT_EQ(SimRegistryValues(kUser, "Software\\Zelk\\Dst\\K"), Names{"k"});
}

TEST_F(KeyTree, CopyFailures) {
  SimRegistryPutText(kUser, "Software\\Zelk\\Dst\\Kid", "v", "v");
  std::string target = SimRegistryDump(kUser, "Software\\Zelk\\Dst");

  // No source: the target is untouched.
  EXPECT_EQ(CopyKeyBranch("Software\\Zelk\\Missing", "Software\\Zelk\\Dst"), 0);
  EXPECT_EQ(SimRegistryDump(kUser, "Software\\Zelk\\Dst"), target);

  // A target subkey that cannot be made ends the subkeys, not the copy.
  SimRegistryPutKey(kUser, "Software\\Zelk\\Src\\A");
  SimRegistryPutKey(kUser, "Software\\Zelk\\Src\\B");
  SimRegistryPutKey(kUser, "Software\\Zelk\\Src\\C");
  SimRegistryRefuseCreate(kUser, "Software\\Zelk\\Dst\\B");
  EXPECT_EQ(CopyKeyBranch("Software\\Zelk\\Src", "Software\\Zelk\\Dst"), 1);
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\Dst"), Names{"A"});

  // A target that cannot be made: 0, and it has been erased by then.
  SimRegistryRefuseCreate(kUser, "Software\\Zelk\\Dst");
  EXPECT_EQ(CopyKeyBranch("Software\\Zelk\\Src", "Software\\Zelk\\Dst"), 0);
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk\\Dst"));
}

// Paths over 511 characters are refused, never cut to a shorter path that
// names another key.
TEST_F(KeyTree, BranchPathsThatDoNotFitAreRefused) {
  std::string base = "Software\\Zelk\\" + std::string(150, 'a') + "\\" + std::string(150, 'b') +
                     "\\" + std::string(150, 'c');  // 466 characters
  std::string tooLong = base + "\\" + std::string(45, 'd');  // 512
  std::string cut = tooLong.substr(0, 511);
  SimRegistryPutText(kUser, tooLong, "v", "whole");
  SimRegistryPutText(kUser, cut, "v", "cut");
  SimClearCalls();
  EraseKeyBranch(tooLong.c_str());
  EXPECT_EQ(CopyKeyBranch(tooLong.c_str(), "Software\\Zelk\\Dst"), 0);
  EXPECT_EQ(CopyKeyBranch("Software\\Zelk", tooLong.c_str()), 0);
  EXPECT_EQ(SimCalls(), Names{});

  // Met as a subkey, the erase passes it over (its 511-character sibling
  // fits and goes) and the copy leaves it out.
  EraseKeyBranch(base.c_str());
  EXPECT_TRUE(SimRegistryKeyExists(kUser, tooLong));
  EXPECT_FALSE(SimRegistryKeyExists(kUser, cut));
  SimRegistryPutKey(kUser, base + "\\e");
  EXPECT_EQ(CopyKeyBranch(base.c_str(), "Software\\Zelk\\Dst"), 1);
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\Dst"), (Names{"e"}));
}

// --- Numbered lists ---------------------------------------------------------------

const char *const kPattern = "List\\Item%d";

void SeedEntries(int from, int to) {
  for (int i = from; i <= to; ++i)
    SimRegistryPutNumber(kUser, "Software\\Zelk\\List\\Item" + std::to_string(i), "Was", i);
}

// The entries as "number:original number", in number order.
std::vector<std::string> Entries() {
  std::vector<std::string> out;
  for (int i = 0; i < 10; ++i) {
    std::vector<BYTE> data;
    if (!SimRegistryKeyExists(kUser, "Software\\Zelk\\List\\Item" + std::to_string(i))) continue;
    SimRegistryGetValue(kUser, "Software\\Zelk\\List\\Item" + std::to_string(i), "Was", nullptr,
                        &data);
    out.push_back(std::to_string(i) + ":" + (data.empty() ? "?" : std::to_string(data[0])));
  }
  return out;
}

struct NumberedCase {
  const char *what;
  int seededTo;  // entries 0 to this
  bool remove;   // RemoveNumberedKey, else OpenNumberedSlot
  int number;    // entry to remove, or the position
  int count;
  std::vector<std::string> after;
};

class NumberedList : public KeyTree, public ::testing::WithParamInterface<NumberedCase> {};

TEST_P(NumberedList, MovesAndErases) {
  const NumberedCase &c = GetParam();
  SeedEntries(0, c.seededTo);
  if (c.remove)
    RemoveNumberedKey(kPattern, c.number);
  else
    OpenNumberedSlot(kPattern, c.number, c.count);
  EXPECT_EQ(Entries(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    KeyTree, NumberedList,
    ::testing::Values(
        NumberedCase{"RemoveInside", 3, true, 1, 0, {"0:0", "1:2", "2:3"}},
        NumberedCase{"RemoveHighest", 3, true, 3, 0, {"0:0", "1:1", "2:2"}},
        NumberedCase{"RemoveFirst", 3, true, 0, 0, {"0:1", "1:2", "2:3"}},
        NumberedCase{"RemoveBeyond", 3, true, 6, 0, {"0:0", "1:1", "2:2", "3:3"}},
        NumberedCase{"OpenInside", 3, false, 1, 4, {"0:0", "2:1", "3:2", "4:3"}},
        NumberedCase{"OpenAtTheCount", 3, false, 4, 4, {"0:0", "1:1", "2:2", "3:3"}},
        NumberedCase{"OpenAtAnExistingNumber", 4, false, 4, 4, {"0:0", "1:1", "2:2", "3:3"}},
        // A count beyond the list: the first move finds no entry, and the
        // slot is not erased, so no entry is lost.
        NumberedCase{"OpenWithTooHighACount", 3, false, 1, 6, {"0:0", "1:1", "2:2", "3:3"}}),
    [](const ::testing::TestParamInfo<NumberedCase> &info) {
      return std::string(info.param.what);
    });

TEST_F(KeyTree, OpenSlotStoppedMidwayErasesNothing) {
  SeedEntries(0, 3);
  // Moving 2 onto 3 erases 3 (already copied to 4) and cannot make it again.
  SimRegistryRefuseCreate(kUser, "Software\\Zelk\\List\\Item3");
  OpenNumberedSlot(kPattern, 1, 4);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"0:0", "1:1", "2:2", "4:3"}));
}

TEST_F(KeyTree, RemoveStopsAtAFailedMove) {
  SeedEntries(0, 3);
  SimRegistryRefuseCreate(kUser, "Software\\Zelk\\List\\Item2");
  RemoveNumberedKey(kPattern, 1);
  // 2 moved down onto 1; 3 could not move onto 2, so 2 (now erased) was
  // the earlier entry of the failed move, and 3 stays as it was.
  EXPECT_EQ(Entries(), (std::vector<std::string>{"0:0", "1:2", "3:3"}));
}

// A move that copies only part of an entry is no move: the entry it came
// from is then neither erased nor overwritten, so nothing of it is lost.
TEST_F(KeyTree, APartialMoveLosesNothingOfTheEntry) {
  struct Case {
    const char *what;
    bool remove;
    int number;
    const char *refused;  // creation refused here and below
    std::vector<std::string> after;
    int keptWhole;  // the entry whose subkey must still hold its own data
  } cases[] = {
      {"opening a slot, the last move", false, 1, "Item2\\Sub", {"0:0", "1:1", "2:1", "3:2", "4:3"}, 1},
      {"opening a slot, a middle move", false, 1, "Item3\\Sub", {"0:0", "1:1", "2:2", "3:2", "4:3"}, 2},
      {"removing an entry", true, 1, "Item1\\Sub", {"0:0", "2:2", "3:3"}, 2},
  };
  for (const Case &c : cases) {
    SimReset();
    SelectSettingsRoot(kUser);
    SeedEntries(0, 3);
    for (int i = 0; i <= 3; ++i)
      SimRegistryPutNumber(kUser, "Software\\Zelk\\List\\Item" + std::to_string(i) + "\\Sub",
                           "Was", i);
    SimRegistryRefuseCreate(kUser, std::string("Software\\Zelk\\List\\") + c.refused);
    if (c.remove)
      RemoveNumberedKey(kPattern, c.number);
    else
      OpenNumberedSlot(kPattern, c.number, 4);
    EXPECT_EQ(Entries(), c.after) << c.what;
    std::vector<BYTE> data;
    EXPECT_TRUE(SimRegistryGetValue(
        kUser, "Software\\Zelk\\List\\Item" + std::to_string(c.keptWhole) + "\\Sub", "Was",
        nullptr, &data))
        << c.what;
    EXPECT_EQ(data, (std::vector<BYTE>{(BYTE)c.keptWhole, 0, 0, 0})) << c.what;
  }
}

// Entry paths over 79 characters are refused: entry 100 of this pattern
// does not fit, and cut short it would be entry 10.
TEST_F(KeyTree, NumberedPathsThatDoNotFitAreRefused) {
  std::string stem = "L\\" + std::string(61, 'x');  // "Software\\Zelk\\" + stem + "%d": 79
  std::string pattern = stem + "%d", path = "Software\\Zelk\\" + stem;
  for (int i : {10, 99, 100}) SimRegistryPutNumber(kUser, path + std::to_string(i), "Was", i);
  RemoveNumberedKey(pattern.c_str(), 99);
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\L"),
            (Names{stem.substr(2) + "10", stem.substr(2) + "100"}));

  OpenNumberedSlot(pattern.c_str(), 10, 100);  // the first move cannot be named
  EXPECT_EQ(SimRegistrySubkeys(kUser, "Software\\Zelk\\L"),
            (Names{stem.substr(2) + "10", stem.substr(2) + "100"}));

  SimClearCalls();
  std::string tooLongPattern = "L\\" + std::string(62, 'x') + "%d";
  RemoveNumberedKey(tooLongPattern.c_str(), 0);
  OpenNumberedSlot(tooLongPattern.c_str(), 0, 0);
  EXPECT_EQ(SimCalls(), Names{});
}

}  // namespace
