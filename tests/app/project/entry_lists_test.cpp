#include "app/project/entry_lists.h"

#include <gtest/gtest.h>

#include "app/common/scripted_user_interface.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using Entries = std::vector<std::string>;
using test::Native;

TEST(EntryListsTest, WildcardEntryJoinsFolderAndMaskWithOneSeparator) {
  struct Case {
    const char* folder;
    const char* mask;
    const char* entry;
  } cases[] = {
      {"/data", "*.doc", "/data/*.doc"},
      {"/", "*.ini", "/*.ini"},                  // the folder already ends with a separator
      {"/home/u/", " *.txt ", "/home/u/*.txt"},  // the mask is trimmed
      {"/work", "", "/work/"},                   // an empty mask leaves the folder with its separator
      {"/work", "   ", "/work/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardEntry(Native(c.folder), c.mask), Native(c.entry)) << c.folder << "|" << c.mask;
  }
}

TEST(EntryListsTest, AddFromWildcardAppendsAndSelectsTheFirstEqualEntry) {
  ScriptedUserInterface ui;
  Entries entries = Native(Entries{"/a/one.txt", "/DATA/*.DOC"});
  int selected = 0;
  ui.QueueWildcard(Native("/data"), "*.doc");
  ASSERT_TRUE(AddFromWildcard(ui, entries, selected));
  EXPECT_EQ(entries, Native(Entries{"/a/one.txt", "/DATA/*.DOC", "/data/*.doc"}));
  EXPECT_EQ(selected, 1);  // the earlier entry equal without regard to case
  EXPECT_EQ(ui.DialogCaptions(), Entries{"Select files by wildcard"});

  // Cancelled: nothing changes.
  EXPECT_FALSE(AddFromWildcard(ui, entries, selected));
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(selected, 1);
}

TEST(EntryListsTest, AddFromFilesAppendsEveryFileAgainAndKeepsTheSelection) {
  ScriptedUserInterface ui;
  Entries entries = {"/a/x"};
  int selected = 0;
  ui.QueueFiles({"/a/x", "/b/y", "/c/z"});
  ASSERT_TRUE(AddFromFiles(ui, entries));
  EXPECT_EQ(entries, (Entries{"/a/x", "/a/x", "/b/y", "/c/z"}));
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(ui.DialogCaptions(), Entries{"Select files by filename"});
  EXPECT_FALSE(AddFromFiles(ui, entries));
  EXPECT_EQ(entries.size(), 4u);
}

TEST(EntryListsTest, DeleteSelectedEntryAndClear) {
  ScriptedUserInterface ui;
  Entries empty;
  int selected = kNoEntrySelected;
  EXPECT_FALSE(DeleteSelectedEntry(ui, empty, selected));  // empty list: nothing, no message
  EXPECT_TRUE(ui.Messages().empty());

  Entries entries = {"/a", "/b", "/c"};
  EXPECT_FALSE(DeleteSelectedEntry(ui, entries, selected));
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].text, "Please select a item by clicking");
  EXPECT_EQ(ui.Messages()[0].kind, MessageKind::kInformation);

  selected = 1;
  EXPECT_TRUE(DeleteSelectedEntry(ui, entries, selected));
  EXPECT_EQ(entries, (Entries{"/a", "/c"}));
  EXPECT_EQ(selected, kNoEntrySelected);

  selected = 0;
  ClearEntries(entries, selected);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(selected, kNoEntrySelected);
}

}  // namespace
}  // namespace kzb::app
