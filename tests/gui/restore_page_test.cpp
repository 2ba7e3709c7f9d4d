#include "gui/restore_page.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTableView>

#include "gui/text_grid_model.h"
#include "gui/window_fixture.h"

namespace kzb::gui {
namespace {

using app::runs_test::ProjectSetup;

class RestorePageTest : public WindowTest {
 protected:
  // A window with two archives of Docs (Docs2.zip and Docs3.zip) on the Restore page.
  MainWindow& OpenWithArchives() {
    MainWindow& w = Open({ProjectSetup{}});
    Click("SpStart");
    Click("SpStart");
    ui_.ClearRecords();
    w.Pages()->setCurrentIndex(1);
    return w;
  }
  RestorePage* Page() { return window_->Restore(); }
  QStringList ListedNames() {
    QStringList names;
    for (const QStringList& row : Page()->ListingModel()->Rows()) names << row[0];
    return names;
  }
  QAction* MenuItem(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions()) {
      if (a->text() == text) return a;
      if (a->menu() != nullptr) {
        if (QAction* inner = MenuItem(a->menu(), text)) return inner;
      }
    }
    return nullptr;
  }
  void Select(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTableView* listing = Page()->Listing();
    const QRect cell = listing->visualRect(Page()->ListingModel()->index(row, 0));
    QTest::mouseClick(listing->viewport(), Qt::LeftButton, modifiers, cell.center());
  }
};

TEST_F(RestorePageTest, ListingShowsTheDestinationSortedWithTheFirstArchivesEntries) {
  MainWindow& w = OpenWithArchives();
  EXPECT_EQ(w.App().ActivePage(), app::MainPage::kRestore);
  EXPECT_EQ(Child<QLineEdit>("DirectoryView")->text().toStdString(), DestDir());
  EXPECT_EQ(ListedNames(), (QStringList{"Docs2.zip", "Docs3.zip"}));  // by date, ascending
  EXPECT_EQ(Page()->ZipNumberLabel()->text(), "(Total 2 files)");
  EXPECT_EQ(Page()->FileNumberLabel()->text(), "(Total 2 files)");
  EXPECT_EQ(Page()->EntriesModel()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Path");
  QStringList entry_names;
  for (const QStringList& row : Page()->EntriesModel()->Rows()) entry_names << row[0];
  EXPECT_TRUE(entry_names.contains("b.txt"));

  QAction* by_name = MenuItem(Page()->ListingMenu(), "By name");
  QAction* descending = MenuItem(Page()->ListingMenu(), "Descending");
  ASSERT_NE(by_name, nullptr);
  by_name->trigger();
  descending->trigger();
  EXPECT_EQ(ListedNames(), (QStringList{"Docs3.zip", "Docs2.zip"}));
  EXPECT_TRUE(descending->isChecked());
  EXPECT_EQ(w.App().Settings().sort_field, app::SortField::kName);
  EXPECT_EQ(w.Runs().Browser().CurrentName(), "Docs3.zip");

  Select(1);
  EXPECT_EQ(w.Runs().Browser().CurrentName(), "Docs2.zip");
}

TEST_F(RestorePageTest, EmptyFolderHidesTheFileItemsOfTheMenu) {
  Open({ProjectSetup{}});
  window_->Pages()->setCurrentIndex(1);
  EXPECT_EQ(Page()->ZipNumberLabel()->text(), "(Total 0 files)");
  EXPECT_EQ(Page()->ListingModel()->rowCount(), 1);  // one blank row
  Page()->PrepareMenu();
  EXPECT_FALSE(MenuItem(Page()->ListingMenu(), "Open Zip File")->isVisible());
  EXPECT_TRUE(MenuItem(Page()->ListingMenu(), "Files Sort")->isVisible());
  ui_.ClearRecords();
  Click("SpRestore");
  EXPECT_EQ(ui_.ModalTexts(), std::vector<std::string>{"No Zip file to restore!"});
}

TEST_F(RestorePageTest, RestoreHonoursEachOverwriteMode) {
  OpenWithArchives();
  const std::string target = dir_ / "out/";
  ASSERT_TRUE(platform::ForceDirectories(target));
  auto* dest = Child<QLineEdit>("DirectoryRestore");
  dest->setText(QString::fromStdString(target));
  Toggle(Child<QCheckBox>("CheckBoxUseFolder"));  // every entry at the top
  struct Case {
    const char* radio;
    int answer;  // -1: no question expected, 0 No, 1 Yes
    bool overwritten;
  } cases[] = {{"RadioNever", -1, false}, {"RadioAlways", -1, true}, {"RadioPrompt", 0, false},
               {"RadioPrompt", 1, true},  {"RadioNewer", -1, false}, {"RadioOlder", -1, true}};
  for (const Case& c : cases) {
    (void)platform::DeleteFile(target + "b.txt");  // restored by an earlier case, or not there yet
    test::WriteFileText(target + "a.txt", "kept\n");
    // The file on disk is newer than the archived one.
    ASSERT_TRUE(platform::SetFileTime(target + "a.txt", platform::DateTime::Now().AddDays(1)));
    Toggle(Child<QRadioButton>(c.radio));
    ui_.QueueYesNo(true);  // the summary question
    if (c.answer >= 0) ui_.QueueYesNo(c.answer == 1);
    ui_.ClearRecords();
    Click("SpRestore");
    ASSERT_FALSE(ui_.Questions().empty());
    EXPECT_NE(ui_.Questions()[0].find("Use original folder: 'No'"), std::string::npos);
    EXPECT_EQ(ui_.Questions().size(), c.answer >= 0 ? 2u : 1u) << c.radio;
    EXPECT_EQ(test::ReadFileText(target + "a.txt") == "alpha\n", c.overwritten) << c.radio << " " << c.answer;
    EXPECT_TRUE(platform::FileExists(target + "b.txt"));
    EXPECT_EQ(ui_.Messages().back().text.rfind("Restore Files Succeeds!", 0), 0u);
    EXPECT_EQ(window_->Log()->Model()->Text(0, 1), "Restore");
  }
}

TEST_F(RestorePageTest, ListingMenuOpensCopiesAndDeletes) {
  MainWindow& w = OpenWithArchives();
  Select(0);
  emit Page()->Listing()->doubleClicked(Page()->ListingModel()->index(0, 0));
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], DestDir() + "Docs2.zip");

  const std::string copies = dir_ / "copies/";
  ASSERT_TRUE(platform::ForceDirectories(copies));
  ui_.QueueFolder(copies);
  MenuItem(Page()->ListingMenu(), "Copy the Zip File to...")->trigger();
  EXPECT_TRUE(platform::FileExists(copies + "Docs2.zip"));
  EXPECT_EQ(ui_.DialogCaptions().back(), "Copy 'Docs2.zip' to destination folder");

  Select(0);
  Select(1, Qt::ShiftModifier);
  EXPECT_EQ(w.Runs().Browser().SelectionTop(), 0);
  EXPECT_EQ(w.Runs().Browser().SelectionBottom(), 1);
  ui_.QueueYesNo(false);
  MenuItem(Page()->ListingMenu(), "Delete Zip Files Selected")->trigger();
  EXPECT_EQ(ui_.Questions().back(), "Do you want to delete the 2 files ");
  EXPECT_EQ(ListedNames().size(), 2);
  Select(0);
  Select(1, Qt::ShiftModifier);
  ui_.QueueYesNo(true);
  MenuItem(Page()->ListingMenu(), "Delete Zip Files Selected")->trigger();
  EXPECT_FALSE(platform::FileExists(DestDir() + "Docs2.zip"));
  EXPECT_FALSE(platform::FileExists(DestDir() + "Docs3.zip"));
  EXPECT_EQ(Page()->ZipNumberLabel()->text(), "(Total 0 files)");
}

}  // namespace
}  // namespace kzb::gui
