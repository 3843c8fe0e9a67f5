// The desktop entries found in a fixture of XDG data folders made by each
// test: ids, precedence, the entry group, Hidden, escapes, localized names
// and the re-reading of changed folders.

#include "platform/linux/desktop/desktop_entries.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace platform::desktop {
namespace {

namespace fs = std::filesystem;

const char* const kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS", "LC_ALL", "LC_MESSAGES", "LANG"};

class DesktopEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
      unsetenv(name);
    }
    char pattern[] = "/tmp/desktop_entries.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    home_ = root_ / "home";
    system_ = root_ / "system";
    vendor_ = root_ / "vendor";
    setenv("XDG_DATA_HOME", home_.c_str(), 1);
    setenv("XDG_DATA_DIRS", (system_.string() + ":" + vendor_.string()).c_str(), 1);
  }

  void TearDown() override {
    fs::remove_all(root_);
    for (const char* name : kVariables) unsetenv(name);
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

  // Writes `text` as applications/`relative` under the data folder `data`.
  static void write(const fs::path& data, const std::string& relative, const std::string& text) {
    const fs::path path = data / "applications" / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  static std::string entry(const std::string& name, const std::string& more = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n" + more;
  }

  // Sets every folder's mtime an hour back, as on a machine where nothing
  // was installed just now.
  void age() const {
    const timespec past[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    for (const auto& item : fs::recursive_directory_iterator(root_)) {
      if (item.is_directory()) utimensat(AT_FDCWD, item.path().c_str(), past, 0);
    }
  }

  static std::optional<std::string> nameOf(std::string_view id) {
    const std::optional<Entry> found = find(id);
    if (!found) return std::nullopt;
    EXPECT_EQ(found->id, id);
    return found->name;
  }

  fs::path root_, home_, system_, vendor_;
  std::map<std::string, std::string> saved_;
};

TEST_F(DesktopEntriesTest, IdsAndPrecedence) {
  write(home_, "shared.desktop", entry("From home"));
  write(system_, "shared.desktop", entry("From system"));
  write(system_, "middle.desktop", entry("Middle from system"));
  write(vendor_, "middle.desktop", entry("Middle from vendor"));
  write(vendor_, "low.desktop", entry("Only in vendor"));
  write(system_, "acme/app.desktop", entry("Acme App"));
  write(system_, "acme/tools/draw.desktop", entry("Acme Draw"));
  write(system_, "menu.desktop", entry("Hidden from menus", "NoDisplay=true\n"));
  write(system_, "notes.txt", entry("Not an entry"));
  write(system_, ".desktop", entry("No id"));
  write(system_, "nameless.desktop", "[Desktop Entry]\nType=Application\n");
  write(vendor_, "nameless.desktop", entry("Named below"));
  const std::map<std::string, std::optional<std::string>> cases = {
      {"shared", "From home"},
      {"middle", "Middle from system"},
      {"low", "Only in vendor"},
      {"acme-app", "Acme App"},
      {"acme-tools-draw", "Acme Draw"},
      {"app", std::nullopt},
      {"acme/app", std::nullopt},
      {"shared.desktop", std::nullopt},
      {"menu", "Hidden from menus"},
      {"notes", std::nullopt},
      {"", std::nullopt},
      {"nameless", "Named below"},  // a file without a name is no entry and hides nothing
  };
  for (const auto& [id, name] : cases) EXPECT_EQ(nameOf(id), name) << id;
}

TEST_F(DesktopEntriesTest, DefaultDataHome) {
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", (root_ / "user").c_str(), 1);
  write(root_ / "user" / ".local" / "share", "mine.desktop", entry("Mine"));
  write(system_, "mine.desktop", entry("Theirs"));
  EXPECT_EQ(nameOf("mine"), "Mine");
  // A relative path is invalid there and counts as unset.
  setenv("XDG_DATA_HOME", "relative/share", 1);
  EXPECT_EQ(nameOf("mine"), "Mine");
}

TEST_F(DesktopEntriesTest, HiddenEntries) {
  write(home_, "removed.desktop", "[Desktop Entry]\nHidden=true\n");
  write(system_, "removed.desktop", entry("Removed", "StartupWMClass=Removed\n"));
  write(home_, "kept.desktop", entry("Kept"));
  write(system_, "kept.desktop", entry("Kept below", "Hidden=true\n"));
  write(system_, "plain.desktop", entry("Plain", "Hidden=false\n"));
  EXPECT_EQ(nameOf("removed"), std::nullopt);
  EXPECT_EQ(findByStartupWMClass("Removed"), std::nullopt);
  EXPECT_EQ(nameOf("kept"), "Kept");
  EXPECT_EQ(nameOf("plain"), "Plain");
}

TEST_F(DesktopEntriesTest, OnlyTheEntryGroupCounts) {
  write(system_, "actions.desktop",
        "# comment\nName=Before any group\n[Desktop Entry]\nName=Editor\n\n# Name=Commented\n"
        "[Desktop Action new]\nName=New Window\nStartupWMClass=Wrong\n");
  write(system_, "late.desktop",
        "[Other Group]\nName=Other\n[Desktop Entry]\nName = Spaced \nHidden=false\n");
  write(system_, "crlf.desktop", "[Desktop Entry]\r\nName=Carriage\r\n");
  write(system_, "twice.desktop", "[Desktop Entry]\nName=First\nName=Second\n");
  EXPECT_EQ(nameOf("actions"), "Editor");
  EXPECT_EQ(findByStartupWMClass("Wrong"), std::nullopt);
  EXPECT_EQ(nameOf("late"), "Spaced");
  EXPECT_EQ(nameOf("crlf"), "Carriage");
  EXPECT_EQ(nameOf("twice"), "First");
}

TEST_F(DesktopEntriesTest, ValueEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {R"(\sLeading)", " Leading"},
      {R"(Two\nLines)", "Two\nLines"},
      {R"(Tab\tbed)", "Tab\tbed"},
      {R"(Return\r)", "Return\r"},
      {R"(Back\\slash)", "Back\\slash"},
      {R"(Other\;kept)", "Other\\;kept"},
      {R"(Ends\)", "Ends\\"},
      {R"(\\s)", "\\s"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    write(system_, "escape" + std::to_string(i) + ".desktop", entry(cases[i].first));
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(nameOf("escape" + std::to_string(i)), cases[i].second) << cases[i].first;
  }
}

TEST_F(DesktopEntriesTest, LocalizedNames) {
  write(system_, "full.desktop",
        entry("Plain",
              "Name[de]=Deutsch\nName[de_AT]=Österreich\nName[de@euro]=Euro\n"
              "Name[de_AT@euro]=Österreich Euro\nName[sr@latin]=Latinica\nName[fr]=\n"));
  write(system_, "bad.desktop", entry("Plain", "Name[de]=\xff\xfe\n"));
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "Plain"},
      {nullptr, nullptr, "de_DE.UTF-8", "Deutsch"},
      {nullptr, nullptr, "de_AT.UTF-8", "Österreich"},
      {nullptr, nullptr, "de_AT.UTF-8@euro", "Österreich Euro"},
      {nullptr, nullptr, "de_CH@euro", "Euro"},
      {nullptr, nullptr, "de", "Deutsch"},
      {nullptr, nullptr, "sr_RS@latin", "Latinica"},
      {nullptr, nullptr, "sr_RS", "Plain"},
      {nullptr, nullptr, "fr_FR.UTF-8", "Plain"},  // an empty localized name gives way
      {nullptr, nullptr, "C.UTF-8", "Plain"},
      {nullptr, nullptr, "POSIX", "Plain"},
      {nullptr, "de_AT", "fr_FR", "Österreich"},
      {"de_DE", "fr_FR", "fr_FR", "Deutsch"},
      {"", "", "de_DE", "Deutsch"},  // the first that is not empty
  };
  for (const Case& c : cases) {
    for (const auto& [name, value] :
         {std::pair{"LC_ALL", c.lcAll}, {"LC_MESSAGES", c.lcMessages}, {"LANG", c.lang}}) {
      value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    EXPECT_EQ(nameOf("full"), c.expected)
        << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(nameOf("bad"), "Plain");  // a name that is not UTF-8 is no name
}

TEST_F(DesktopEntriesTest, StartupWMClass) {
  write(home_, "term.desktop", entry("Terminal", "StartupWMClass=XTerm\n"));
  write(system_, "term.desktop", entry("Old Terminal", "StartupWMClass=OldTerm\n"));
  write(system_, "a-first.desktop", entry("First", "StartupWMClass=Shared\n"));
  write(system_, "b-second.desktop", entry("Second", "StartupWMClass=Shared\n"));
  write(system_, "spaced.desktop", entry("Spaced", "StartupWMClass=My\\sApp\n"));
  write(system_, "de.desktop", entry("Plain", "Name[de]=Lokal\nStartupWMClass=Local\n"));
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(nameOf("term"), "Terminal");  // an id read on its own first is the same entry
  const std::pair<std::string, std::optional<std::pair<std::string, std::string>>> cases[] = {
      {"XTerm", std::pair{"term", "Terminal"}},
      {"xterm", std::nullopt},
      {"OldTerm", std::nullopt},  // the entry is hidden by its namesake above
      {"Shared", std::pair{"a-first", "First"}},
      {"My App", std::pair{"spaced", "Spaced"}},
      {"Local", std::pair{"de", "Lokal"}},
      {"", std::nullopt},
  };
  for (const auto& [wmClass, expected] : cases) {
    const std::optional<Entry> found = findByStartupWMClass(wmClass);
    ASSERT_EQ(found.has_value(), expected.has_value()) << wmClass;
    if (found) {
      EXPECT_EQ(std::pair(found->id, found->name), *expected) << wmClass;
    }
  }
}

TEST_F(DesktopEntriesTest, ReadAgainWhenAFolderChanges) {
  write(system_, "old.desktop", entry("Old"));
  write(system_, "acme/tool.desktop", entry("Tool"));
  fs::create_directories(vendor_);
  age();
  EXPECT_EQ(nameOf("old"), "Old");
  EXPECT_EQ(nameOf("new"), std::nullopt);

  write(system_, "new.desktop", entry("New"));
  EXPECT_EQ(nameOf("new"), "New");
  age();
  write(system_, "acme/other.desktop", entry("Other"));  // a subfolder's change
  EXPECT_EQ(nameOf("acme-other"), "Other");
  age();
  fs::remove(system_ / "applications" / "old.desktop");
  EXPECT_EQ(nameOf("old"), std::nullopt);
  age();
  write(home_, "late.desktop", entry("Late"));  // a folder that did not exist
  EXPECT_EQ(nameOf("late"), "Late");
  age();
  // A changed locale chooses the names again.
  write(system_, "greeting.desktop", entry("Hello", "Name[de]=Hallo\n"));
  age();
  EXPECT_EQ(nameOf("greeting"), "Hello");
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(nameOf("greeting"), "Hallo");
}

TEST_F(DesktopEntriesTest, FileSizes) {
  const std::string comments(40 * 1024, '#');  // read in several pieces
  write(system_, "long.desktop", "[Desktop Entry]\n# " + comments + "\nName=Long\n");
  write(system_, "huge.desktop", entry("Huge", "# " + std::string(300 * 1024, '#') + "\n"));
  write(system_, "empty.desktop", "");
  EXPECT_EQ(nameOf("long"), "Long");
  EXPECT_EQ(nameOf("huge"), std::nullopt);  // larger than any entry: not read
  EXPECT_EQ(nameOf("empty"), std::nullopt);
}

TEST_F(DesktopEntriesTest, NoFoldersAtAll) {
  setenv("XDG_DATA_DIRS", (root_ / "missing").c_str(), 1);
  EXPECT_EQ(nameOf("anything"), std::nullopt);
  EXPECT_EQ(findByStartupWMClass("Anything"), std::nullopt);
}

}  // namespace
}  // namespace platform::desktop
