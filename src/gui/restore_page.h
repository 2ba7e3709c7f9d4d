// The "Restore" page: the Options group of the restore run (destination, password, overwrite mode, folder
// names) and the Files group with the archive folder, the archive listing with its menu ("Files Sort",
// open, copy, delete) and the entries of the selected archive. The listing, its sort and selection are the
// core's archive browser; the page shows them and forwards clicks.
#pragma once

#include <QWidget>

#include "app/runs/main_runs.h"
#include "app/session/application.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;
class QTableView;
class QToolButton;

namespace kzb::gui {

class TextGridModel;

class RestorePage : public QWidget {
  Q_OBJECT

 public:
  RestorePage(app::Application& app, app::MainRuns& runs, QWidget* parent = nullptr);

  // Shows the browser's listing, entries, labels and folder, and the restore options.
  void Refresh();

  QTableView* Listing() const { return listing_; }
  QTableView* EntriesGrid() const { return entries_; }
  TextGridModel* ListingModel() const { return listing_model_; }
  TextGridModel* EntriesModel() const { return entries_model_; }
  QMenu* ListingMenu() const { return menu_; }
  QLabel* ZipNumberLabel() const { return zip_number_; }
  QLabel* FileNumberLabel() const { return file_number_; }
  // Prepares the listing's menu as it is about to open (`PopupMenuStringPopup`).
  void PrepareMenu();
  // The listing menu's commands.
  void OpenCurrent();
  void CopyCurrent();
  void DeleteSelected();

 private:
  QGroupBox* BuildOptionsGroup(int char_width);
  QGroupBox* BuildFilesGroup(int char_width);
  void BuildListingMenu();
  void ListingSelectionChanged();
  void ShowSelection();
  void ChooseArchiveFolder();
  void ChooseDestination();

  app::Application* app_;
  app::MainRuns* runs_;
  bool showing_ = false;
  QLineEdit* dest_dir_;
  QLineEdit* password_;
  QRadioButton* mode_prompt_;
  QRadioButton* mode_always_;
  QRadioButton* mode_never_;
  QRadioButton* mode_newer_;
  QRadioButton* mode_older_;
  QCheckBox* use_folders_;
  QLineEdit* folder_;
  QTableView* listing_;
  TextGridModel* listing_model_;
  QLabel* zip_number_;
  QTableView* entries_;
  TextGridModel* entries_model_;
  QLabel* file_number_;
  QMenu* menu_;
  QAction* separator_;
  QAction* open_;
  QAction* copy_;
  QAction* delete_;
  QAction* by_name_;
  QAction* by_size_;
  QAction* by_date_;
  QAction* ascending_;
  QAction* descending_;
};

}  // namespace kzb::gui
