#include "app/project/wildcard_masks.h"

#include <gtest/gtest.h>

#include "app/common/scripted_user_interface.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using Masks = std::vector<std::string>;

class WildcardMasksTest : public ::testing::Test {
 protected:
  platform::IniFile Ini() const { return platform::IniFile(dir_ / "project.ini"); }
  void Write(const std::string& text) { test::WriteFileText(dir_ / "project.ini", text); }

  test::ScratchDir dir_;
  ScriptedUserInterface ui_;
};

TEST_F(WildcardMasksTest, ReadTakesTheCountAndSkipsEmptyValues) {
  Write("[Common]\nWildcard Total=3\nWildcard0=*.doc\nWildcard1=\nWildcard2=*.xls\nWildcard3=*.old\n");
  EXPECT_EQ(ReadWildcardMasks(Ini()), (Masks{"*.doc", "*.xls"}));
}

TEST_F(WildcardMasksTest, DropDownProposesAllFilesWhenNothingIsStored) {
  MaskDropDown none = LoadMaskDropDown(Ini());
  EXPECT_TRUE(none.masks.empty());
  EXPECT_EQ(none.text, "*.*");
  EXPECT_EQ(none.selected, -1);

  Write("[Common]\nWildcard Total=2\nWildcard0=*.txt\nWildcard1=*.doc\n");
  MaskDropDown stored = LoadMaskDropDown(Ini());
  EXPECT_EQ(stored.text, "*.txt");
  EXPECT_EQ(stored.selected, 0);
}

TEST_F(WildcardMasksTest, AddTrimsAndIgnoresAMaskListedInOtherCase) {
  Write("[Common]\nWildcard Total=1\nWildcard0=*.txt\n");
  WildcardMaskEditor editor(Ini(), ui_);
  EXPECT_FALSE(editor.Add("*.TXT"));
  EXPECT_FALSE(editor.Add("   "));
  EXPECT_TRUE(editor.Add(" *.doc "));
  EXPECT_EQ(editor.Masks(), (Masks{"*.txt", "*.doc"}));
}

TEST_F(WildcardMasksTest, MovesStopAtTheEndsAndNeedASelection) {
  Write("[Common]\nWildcard Total=3\nWildcard0=a\nWildcard1=b\nWildcard2=c\n");
  WildcardMaskEditor editor(Ini(), ui_);
  EXPECT_FALSE(editor.MoveUp());  // nothing selected
  EXPECT_FALSE(editor.MoveDown());
  editor.Select(0);
  EXPECT_FALSE(editor.MoveUp());
  editor.Select(2);
  EXPECT_FALSE(editor.MoveDown());
  EXPECT_EQ(editor.Masks(), (Masks{"a", "b", "c"}));
  EXPECT_TRUE(editor.MoveUp());
  EXPECT_EQ(editor.Masks(), (Masks{"a", "c", "b"}));
  EXPECT_EQ(editor.Selected(), 1);
  EXPECT_TRUE(editor.MoveUp());
  EXPECT_EQ(editor.Masks(), (Masks{"c", "a", "b"}));
  EXPECT_TRUE(editor.MoveDown());
  EXPECT_EQ(editor.Masks(), (Masks{"a", "c", "b"}));
  EXPECT_EQ(editor.Selected(), 1);
}

TEST_F(WildcardMasksTest, DeleteNeedsASelection) {
  Write("[Common]\nWildcard Total=2\nWildcard0=a\nWildcard1=b\n");
  WildcardMaskEditor editor(Ini(), ui_);
  EXPECT_FALSE(editor.DeleteSelected());
  EXPECT_EQ(ui_.ModalTexts(), Masks{"Please select a item by clicking"});
  editor.Select(0);
  EXPECT_TRUE(editor.DeleteSelected());
  EXPECT_EQ(editor.Masks(), Masks{"b"});
  EXPECT_EQ(editor.Selected(), -1);
}

TEST_F(WildcardMasksTest, OnlySaveWritesAndKeysBeyondTheCountStay) {
  Write("[Common]\nProject Count=0\nWildcard Total=3\nWildcard0=a\nWildcard1=b\nWildcard2=c\n");
  {
    WildcardMaskEditor cancelled(Ini(), ui_);
    cancelled.Clear();  // dropped without Save: the file keeps its list
  }
  EXPECT_EQ(ReadWildcardMasks(Ini()), (Masks{"a", "b", "c"}));

  WildcardMaskEditor editor(Ini(), ui_);
  editor.Select(1);
  ASSERT_TRUE(editor.DeleteSelected());
  editor.Save();
  EXPECT_EQ(ReadWildcardMasks(Ini()), (Masks{"a", "c"}));
  EXPECT_EQ(Ini().ReadInteger("Common", "Wildcard Total", -1), 2);
  EXPECT_EQ(Ini().ReadString("Common", "Wildcard2", ""), "c");  // beyond the count, not read
  EXPECT_EQ(Ini().ReadInteger("Common", "Project Count", -1), 0);
}

}  // namespace
}  // namespace kzb::app
