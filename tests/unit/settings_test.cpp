#include "settings/settings.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"

namespace {

const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

class Settings : public SimTest {};

std::vector<BYTE> Stored(HKEY root, const char *path, const char *name, DWORD *type = nullptr) {
  std::vector<BYTE> data;
  if (!SimRegistryGetValue(root, path, name, type, &data)) return {0xEE, 0xEE};  // "missing"
  return data;
}

const std::vector<BYTE> kMissing = {0xEE, 0xEE};

TEST_F(Settings, ComposedPathForTheEmptyNameAndForANameAndRefusedWhenTooLong) {
  char path[SETTINGS_PATH_SIZE];
  EXPECT_EQ(ComposeSettingsPath("", path), 1);
  EXPECT_STREQ(path, "Software\\Zelk");
  EXPECT_EQ(ComposeSettingsPath("Highlight\\Group0", path), 1);
  EXPECT_STREQ(path, "Software\\Zelk\\Highlight\\Group0");
  std::string longest(65, 'n');  // 14 + 65 = 79 characters
  EXPECT_EQ(ComposeSettingsPath(longest.c_str(), path), 1);
  EXPECT_EQ(std::strlen(path), 79u);
  std::string tooLong(66, 'n');
  EXPECT_EQ(ComposeSettingsPath(tooLong.c_str(), path), 0);
  EXPECT_STREQ(path, "");
}

TEST_F(Settings, WritesStoreTheirTypeAndBytesMakingEveryMissingKey) {
  WriteTextSetting("", "Group", "abc");
  WriteNumberSetting("Highlight\\Group0", "NormalColor", 2);
  const BYTE bytes[] = {9, 0, 7};
  WriteBytesSetting("Highlight\\Group0", "Mask", bytes, 3);
  WriteBytesSetting("Highlight\\Group0", "Nothing", bytes, 0);

  DWORD type;
  EXPECT_EQ(Stored(kUser, "Software\\Zelk", "Group", &type), (std::vector<BYTE>{'a', 'b', 'c', 0}));
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(Stored(kUser, "Software\\Zelk\\Highlight\\Group0", "NormalColor", &type),
            (std::vector<BYTE>{2, 0, 0, 0}));
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  EXPECT_EQ(Stored(kUser, "Software\\Zelk\\Highlight\\Group0", "Mask", &type),
            (std::vector<BYTE>{9, 0, 7}));
  EXPECT_EQ(type, (DWORD)REG_BINARY);
  EXPECT_EQ(Stored(kUser, "Software\\Zelk\\Highlight\\Group0", "Nothing"), std::vector<BYTE>{});
  EXPECT_FALSE(SimRegistryKeyExists(kMachine, "Software\\Zelk"));

  // A write replaces the value whatever its type was.
  WriteNumberSetting("", "Group", 0x01020304);
  EXPECT_EQ(Stored(kUser, "Software\\Zelk", "Group", &type), (std::vector<BYTE>{4, 3, 2, 1}));
  EXPECT_EQ(type, (DWORD)REG_DWORD);
}

TEST_F(Settings, SelectedRootTakesEveryLaterCall) {
  SelectSettingsRoot(kMachine);
  WriteTextSetting("Highlight", "Name", "m");
  EXPECT_EQ(SettingsKeyExists("Highlight"), 1);
  char text[8];
  EXPECT_EQ(ReadTextSetting("Highlight", "Name", text, "-", sizeof text), 1);
  EXPECT_STREQ(text, "m");
  SelectSettingsRoot(kUser);
  EXPECT_EQ(SettingsKeyExists("Highlight"), 0);
  EXPECT_EQ(ReadTextSetting("Highlight", "Name", text, "-", sizeof text), 0);
  EXPECT_STREQ(text, "-");
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk"));
  EXPECT_EQ(Stored(kMachine, "Software\\Zelk\\Highlight", "Name"), (std::vector<BYTE>{'m', 0}));
}

struct TextRead {
  const char *what;
  bool seed;                   // whether the product key exists
  DWORD type;
  std::vector<BYTE> stored;    // the value "V"; empty with seed = no value
  DWORD size;                  // destination size
  bool refuseRead;             // the key cannot be opened for reading
  int result;
  const char *text;
};

class TextReads : public Settings, public ::testing::WithParamInterface<TextRead> {};

TEST_P(TextReads, ReadOrFallBack) {
  const TextRead &c = GetParam();
  if (c.seed) SimRegistryPutKey(kUser, "Software\\Zelk");
  if (!c.stored.empty() || c.type == REG_BINARY)
    SimRegistryPutValue(kUser, "Software\\Zelk", "V", c.type, c.stored);
  if (c.refuseRead) SimRegistryRefuseOpen(kUser, "Software\\Zelk", KEY_QUERY_VALUE);
  char dest[16];
  std::memset(dest, '#', sizeof dest);
  EXPECT_EQ(ReadTextSetting("", "V", dest, "fb", c.size), c.result);
  EXPECT_STREQ(dest, c.text);
  EXPECT_EQ(dest[c.size], '#') << "wrote past the destination";
}

const std::vector<BYTE> kAbc = {'a', 'b', 'c'};
const std::vector<BYTE> kAbcTerminated = {'a', 'b', 'c', 0};

INSTANTIATE_TEST_SUITE_P(
    Settings, TextReads,
    ::testing::Values(
        TextRead{"fits", true, REG_SZ, kAbcTerminated, 8, false, 1, "abc"},
        TextRead{"exactly fits", true, REG_SZ, kAbcTerminated, 4, false, 1, "abc"},
        TextRead{"one too long", true, REG_SZ, kAbcTerminated, 3, false, 0, "fb"},
        TextRead{"no product key", false, REG_SZ, {}, 8, false, 0, "fb"},
        TextRead{"no value", true, REG_SZ, {}, 8, false, 0, "fb"},
        TextRead{"unreadable key", true, REG_SZ, kAbcTerminated, 8, true, 0, "fb"},
        // Any type reads as text; a missing terminator is added after the
        // data when there is room, and without room the text does not fit.
        TextRead{"no terminator, room", true, REG_BINARY, kAbc, 4, false, 1, "abc"},
        TextRead{"no terminator, no room", true, REG_BINARY, kAbc, 3, false, 0, "fb"},
        TextRead{"empty data", true, REG_BINARY, {}, 4, false, 1, ""}),
    [](const ::testing::TestParamInfo<TextRead> &info) {
      std::string name;
      for (const char *p = info.param.what; *p; ++p)
        if (std::isalnum((unsigned char)*p)) name += *p;
      return name;
    });

TEST_F(Settings, NumberReadsFourBytesOfAnyTypeElseTheFallback) {
  SimRegistryPutValue(kUser, "Software\\Zelk", "Four", REG_BINARY, {1, 2, 3, 4});
  SimRegistryPutValue(kUser, "Software\\Zelk", "Five", REG_BINARY, {1, 2, 3, 4, 5});
  SimRegistryPutValue(kUser, "Software\\Zelk", "Two", REG_DWORD, {1, 2});
  DWORD number = 0xAAAAAAAA;
  EXPECT_EQ(ReadNumberSetting("", "Four", &number, 7), 1);
  EXPECT_EQ(number, 0x04030201u);
  EXPECT_EQ(ReadNumberSetting("", "Five", &number, 7), 0);
  EXPECT_EQ(number, 7u);
  EXPECT_EQ(ReadNumberSetting("", "Missing", &number, 8), 0);
  EXPECT_EQ(number, 8u);
  // Shorter data leaves the caller's other bytes as they were ...
  number = 0xAAAAAAAA;
  EXPECT_EQ(ReadNumberSetting("", "Two", &number, 7), 1);
  EXPECT_EQ(number, 0xAAAA0201u);
  // ... while NumberSettingOr starts from zero.
  EXPECT_EQ(NumberSettingOr("", "Two", 7), 0x0201u);
  EXPECT_EQ(NumberSettingOr("", "Four", 7), 0x04030201u);
  EXPECT_EQ(NumberSettingOr("", "Five", 7), 7u);
  EXPECT_EQ(NumberSettingOr("Nowhere", "Four", 9), 9u);
}

TEST_F(Settings, BytesReadOrFillExactlyTheGivenSize) {
  SimRegistryPutValue(kUser, "Software\\Zelk", "Bytes", REG_BINARY, {5, 6});
  const BYTE fallback[4] = {1, 2, 3, 4};
  BYTE dest[6];
  std::memset(dest, 0xCC, sizeof dest);
  EXPECT_EQ(ReadBytesSetting("", "Bytes", dest, fallback, 4), 1);
  EXPECT_EQ(std::vector<BYTE>(dest, dest + 6), (std::vector<BYTE>{5, 6, 0xCC, 0xCC, 0xCC, 0xCC}));
  EXPECT_EQ(ReadBytesSetting("", "Missing", dest, nullptr, 4), 0);
  EXPECT_EQ(std::vector<BYTE>(dest, dest + 6), (std::vector<BYTE>{0, 0, 0, 0, 0xCC, 0xCC}));
  EXPECT_EQ(ReadBytesSetting("", "Missing", dest, fallback, 4), 0);
  EXPECT_EQ(std::vector<BYTE>(dest, dest + 6), (std::vector<BYTE>{1, 2, 3, 4, 0xCC, 0xCC}));
  // Too large for the size given: the fallback, of the caller's size.
  std::memset(dest, 0xCC, sizeof dest);
  EXPECT_EQ(ReadBytesSetting("", "Bytes", dest, fallback, 1), 0);
  EXPECT_EQ(std::vector<BYTE>(dest, dest + 3), (std::vector<BYTE>{1, 0xCC, 0xCC}));
}

// A name whose path does not fit is refused outright; a cut path would be
// that of another key (here: the 65-character prefix of the name).
TEST_F(Settings, TooLongANameReachesNoKey) {
  std::string name(66, 'n');
  std::string cut = "Software\\Zelk\\" + name.substr(0, 65);
  SimRegistryPutText(kUser, cut, "V", "cut");
  SimClearCalls();
  WriteTextSetting(name.c_str(), "V", "new");
  WriteNumberSetting(name.c_str(), "N", 1);
  RemoveSetting(name.c_str(), "V");
  RemoveSettingsKey(name.c_str());
  EXPECT_EQ(SettingsKeyExists(name.c_str()), 0);
  char text[8];
  EXPECT_EQ(ReadTextSetting(name.c_str(), "V", text, "fb", sizeof text), 0);
  EXPECT_STREQ(text, "fb");
  EXPECT_EQ(NumberSettingOr(name.c_str(), "N", 5), 5u);
  EXPECT_EQ(SimCalls(), std::vector<std::string>{});
  EXPECT_EQ(Stored(kUser, cut.c_str(), "V"), (std::vector<BYTE>{'c', 'u', 't', 0}));
}

TEST_F(Settings, RemovingKeysAndValues) {
  SimRegistryPutText(kUser, "Software\\Zelk", "Group", "g");
  SimRegistryPutText(kUser, "Software\\Zelk", "Other", "o");
  SimRegistryPutKey(kUser, "Software\\Zelk\\Highlight");
  RemoveSetting("", "Group");
  RemoveSetting("", "Absent");
  RemoveSetting("Nowhere", "Group");  // opens, never creates
  EXPECT_EQ(SimRegistryValues(kUser, "Software\\Zelk"), std::vector<std::string>{"Other"});
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk\\Nowhere"));

  EXPECT_EQ(SettingsKeyExists("Highlight"), 1);  // a key with no values
  RemoveSettingsKey("Highlight");
  EXPECT_EQ(SettingsKeyExists("Highlight"), 0);
  RemoveSettingsKey("Highlight");  // absent: nothing happens
  RemoveSettingsKey("");
  EXPECT_EQ(SettingsKeyExists(""), 0);
  EXPECT_EQ(SimRegistryDeletions(),
            (std::vector<std::string>{"HKCU\\Software\\Zelk\\Highlight", "HKCU\\Software\\Zelk"}));
}

TEST_F(Settings, RemovingTheProductKeyFollowsThePlatformRule) {
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    SimReset();
    SimSetPlatformId(platform);
    SimRegistryPutKey(kUser, "Software\\Zelk\\Highlight\\Group0");
    RemoveSettingsKey("");
    EXPECT_EQ(SimRegistryKeyExists(kUser, "Software\\Zelk"), platform == VER_PLATFORM_WIN32_NT);
  }
}

// Reads and the existence test ask only to query values; writes and value
// removal ask for all access, so a key that refuses writing still reads.
TEST_F(Settings, AccessAsked) {
  SimRegistryPutText(kUser, "Software\\Zelk", "Group", "g");
  SimRegistryRefuseOpen(kUser, "Software\\Zelk", KEY_SET_VALUE);
  char text[8];
  EXPECT_EQ(ReadTextSetting("", "Group", text, "", sizeof text), 1);
  EXPECT_STREQ(text, "g");
  EXPECT_EQ(SettingsKeyExists(""), 1);
  WriteTextSetting("", "Group", "new");
  RemoveSetting("", "Group");
  EXPECT_EQ(Stored(kUser, "Software\\Zelk", "Group"), (std::vector<BYTE>{'g', 0}));
}

TEST_F(Settings, FailedCreationWritesNothing) {
  SimRegistryRefuseCreate(kUser, "Software\\Zelk\\Highlight");
  WriteTextSetting("Highlight\\Group0", "Name", "x");
  EXPECT_FALSE(SimRegistryKeyExists(kUser, "Software\\Zelk\\Highlight"));
  EXPECT_EQ(CreateSettingsKey("Highlight"), (HKEY)0);
  EXPECT_EQ(OpenSettingsKey("Highlight"), (HKEY)0);
}

}  // namespace
