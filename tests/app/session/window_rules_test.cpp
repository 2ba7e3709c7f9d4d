#include "app/session/window_rules.h"

#include <gtest/gtest.h>

#include <array>

#include "app/common/scripted_user_interface.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

TEST(WindowRulesTest, CommandStatesByModeAndBusyState) {
  test::ScratchDir dir;
  test::WriteFileText(dir / "project.ini", "[Common]\nProject Count=1\nCount0=Docs\n[Docs]\nFilename prefix=D\n");
  ScriptedUserInterface ui;
  ManualClock clock(platform::DateTime::ParseDateTime("2024-03-04 10:00:00"));
  Application app(dir.Path(), ui, clock);
  app.Start();

  struct Case {
    bool view, busy;
    // selector, add, edit, save, cancel, rename, copy, delete, preferences, start, restore, pages,
    // groups, tray entries, wait cursor
    std::array<bool, 15> expected;
  } cases[] = {
      {true, false, {1, 1, 1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0}},
      {false, false, {0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 1, 1, 1, 0}},
      {true, true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {false, true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1}},  // a tray backup in edit mode
  };
  for (const Case& c : cases) {
    app.SetViewMode(c.view);
    app.SetRunControls(!c.busy);
    CommandStates s = ComputeCommandStates(app);
    std::array<bool, 15> got = {s.project_selector,
                                s.add,
                                s.edit,
                                s.save,
                                s.cancel,
                                s.rename,
                                s.copy,
                                s.remove,
                                s.preferences,
                                s.start_backup,
                                s.start_restore,
                                s.pages,
                                s.project_groups,
                                s.tray_backup_entries,
                                s.wait_cursor};
    EXPECT_EQ(got, c.expected) << "view " << c.view << " busy " << c.busy;
    EXPECT_EQ(app.Menu().Entries()[0].enabled, !c.busy);
  }
}

TEST(WindowRulesTest, PlacementIsCentredAndFourteenPixelsHigh) {
  WindowPosition p = MainWindowPosition(1280, 800, 1001, 601);
  EXPECT_EQ(p.left, 139);
  EXPECT_EQ(p.top, 85);                                          // (800 - 601) / 2 = 99, rounded toward zero, - 14
  WindowPosition big = MainWindowPosition(800, 600, 1000, 700);  // larger than the screen
  EXPECT_EQ(big.left, 0);
  EXPECT_EQ(big.top, 0);
}

TEST(WindowRulesTest, FirstMinimiseAfterAMinimisedStartStaysOnTheTaskbar) {
  AppSettings settings;
  settings.start_minimized = true;
  EXPECT_FALSE(HideToTrayOnMinimize(settings, true));
  EXPECT_FALSE(settings.start_minimized);
  EXPECT_TRUE(HideToTrayOnMinimize(settings, true));
  EXPECT_FALSE(HideToTrayOnMinimize(settings, false));  // no tray: never hidden
}

}  // namespace
}  // namespace kzb::app
