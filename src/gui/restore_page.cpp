#include "gui/restore_page.h"

#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTableView>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/restore/zip_file_operations.h"
#include "gui/gui_support.h"
#include "gui/text_grid_model.h"

namespace kzb::gui {

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QToolButton* BrowseButton(QWidget* parent, const char* name) {
  auto* button = Named(new QToolButton(parent), name);
  button->setIcon(ProgramIcon("folder"));
  button->setToolTip("Please select directory");
  return button;
}

QTableView* Grid(QWidget* parent, const char* name, TextGridModel* model) {
  auto* view = Named(new QTableView(parent), name);
  view->setModel(model);
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
  view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  view->horizontalHeader()->setStretchLastSection(true);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setWordWrap(false);
  view->setAlternatingRowColors(false);
  return view;
}

}  // namespace

RestorePage::RestorePage(app::Application& app, app::MainRuns& runs, QWidget* parent)
    : QWidget(parent), app_(&app), runs_(&runs) {
  setObjectName("TabRestore");
  const int char_width = fontMetrics().averageCharWidth();
  QGroupBox* options = BuildOptionsGroup(char_width);
  QGroupBox* files = BuildFilesGroup(char_width);
  BuildListingMenu();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(options);
  layout->addWidget(files, 1);
  Refresh();
}

QGroupBox* RestorePage::BuildOptionsGroup(int char_width) {
  app::RestoreRun& restore = runs_->Restore();
  auto* options = Named(new QGroupBox("Options", this), "GroupRestoreOptions");
  auto* dest_label = new QLabel("Extract to:", options);
  dest_dir_ = Named(new QLineEdit(options), "DirectoryRestore");
  dest_label->setBuddy(dest_dir_);
  auto* dest_browse = BrowseButton(options, "DirectoryRestoreBrowse");
  auto* password_label = new QLabel("Input Password ( If has ):", options);
  password_ = Named(new QLineEdit(options), "EditRestorePassword");
  UseStarPasswordCharacter(password_);
  password_label->setBuddy(password_);
  auto* mode_label = new QLabel("Overwrite Mode:", options);
  mode_prompt_ = Named(new QRadioButton("Prompt Before  Overwrite", options), "RadioPrompt");
  mode_always_ = Named(new QRadioButton("Always", options), "RadioAlways");
  mode_never_ = Named(new QRadioButton("Never", options), "RadioNever");
  mode_newer_ = Named(new QRadioButton("If Newer", options), "RadioNewer");
  mode_older_ = Named(new QRadioButton("If Older", options), "RadioOlder");
  auto* modes = new QButtonGroup(options);
  const std::pair<QRadioButton*, zip::TUZOverwriteMode> mode_buttons[] = {
      {mode_prompt_, zip::TUZOverwriteMode::Prompt},
      {mode_always_, zip::TUZOverwriteMode::Always},
      {mode_never_, zip::TUZOverwriteMode::Never},
      {mode_newer_, zip::TUZOverwriteMode::ifNewer},
      {mode_older_, zip::TUZOverwriteMode::ifOlder}};
  for (const auto& [radio, mode] : mode_buttons) {
    modes->addButton(radio);
    connect(radio, &QRadioButton::clicked, this, [this, mode = mode] { runs_->Restore().SetOverwriteMode(mode); });
  }
  use_folders_ = Named(new QCheckBox("Use Original Folder Names", options), "CheckBoxUseFolder");
  dest_dir_->setText(Q(restore.DestDir()));
  use_folders_->setChecked(restore.UseFolderNames());
  connect(dest_dir_, &QLineEdit::textChanged, this,
          [this](const QString& text) { runs_->Restore().SetDestDir(S(text)); });
  connect(dest_browse, &QToolButton::clicked, this, &RestorePage::ChooseDestination);
  connect(password_, &QLineEdit::textChanged, this,
          [this](const QString& text) { runs_->Restore().SetPassword(S(text)); });
  connect(use_folders_, &QCheckBox::toggled, this, [this](bool on) { runs_->Restore().SetUseFolderNames(on); });

  auto* dest_row = new QHBoxLayout;
  dest_row->addWidget(dest_dir_, 1);
  dest_row->addWidget(dest_browse);
  auto* mode_row = new QHBoxLayout;
  for (QRadioButton* r : {mode_prompt_, mode_always_, mode_never_, mode_newer_, mode_older_}) mode_row->addWidget(r);
  mode_row->addStretch();
  auto* options_grid = new QGridLayout(options);
  options_grid->addWidget(dest_label, 0, 0);
  options_grid->addLayout(dest_row, 0, 1);
  options_grid->addWidget(password_label, 0, 2);
  options_grid->addWidget(password_, 0, 3);
  options_grid->addWidget(mode_label, 1, 0);
  options_grid->addLayout(mode_row, 1, 1, 1, 3);
  options_grid->addWidget(use_folders_, 2, 0, 1, 4);
  options_grid->setColumnStretch(1, 2);
  options_grid->setColumnStretch(3, 1);
  dest_dir_->setMinimumWidth(char_width * 36);
  return options;
}

QGroupBox* RestorePage::BuildFilesGroup(int char_width) {
  auto* files = Named(new QGroupBox("Files", this), "GroupFiles");
  auto* folder_label = new QLabel("Zip folder:", files);
  folder_ = Named(new QLineEdit(files), "DirectoryView");
  folder_->setReadOnly(true);
  folder_label->setBuddy(folder_);
  auto* folder_browse = BrowseButton(files, "DirectoryViewBrowse");
  connect(folder_browse, &QToolButton::clicked, this, &RestorePage::ChooseArchiveFolder);

  auto* listing_label = new QLabel("Zip file list:", files);
  listing_model_ = new TextGridModel({"Filename", "Size(KB)", "Date"}, this);
  listing_ = Grid(files, "StringGridZipfilename", listing_model_);
  listing_->setSelectionBehavior(QAbstractItemView::SelectRows);
  listing_->setSelectionMode(QAbstractItemView::ContiguousSelection);
  listing_->setToolTip("Right-click it to open menu\nDouble-click it to open file\nShift+click to select multi-file");
  listing_->setContextMenuPolicy(Qt::CustomContextMenu);
  listing_->setMinimumSize(char_width * 60, fontMetrics().height() * 10);
  listing_->setColumnWidth(0, char_width * 34);
  listing_->setColumnWidth(1, fontMetrics().horizontalAdvance("Size(KB)") + char_width * 3);
  listing_label->setBuddy(listing_);
  zip_number_ = Named(new QLabel("(Total 0 files)", files), "LabelZipNumber");

  auto* entries_label = new QLabel("Zip file details:", files);
  entries_model_ = new TextGridModel({"Filename", "Size(B)", "Path"}, this);
  entries_ = Grid(files, "StringGrid1", entries_model_);
  entries_->setSelectionBehavior(QAbstractItemView::SelectItems);
  entries_->setSelectionMode(QAbstractItemView::SingleSelection);
  entries_->setMinimumSize(char_width * 60, fontMetrics().height() * 8);
  entries_->setColumnWidth(0, char_width * 34);
  entries_->setColumnWidth(1, fontMetrics().horizontalAdvance("0000000000") + char_width * 2);
  entries_label->setBuddy(entries_);
  file_number_ = Named(new QLabel("(Total 0 files)", files), "LabelfileNumber");

  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(folder_label);
  folder_row->addWidget(folder_, 1);
  folder_row->addWidget(folder_browse);
  auto* listing_head = new QHBoxLayout;
  listing_head->addWidget(listing_label);
  listing_head->addStretch();
  listing_head->addWidget(zip_number_);
  auto* entries_head = new QHBoxLayout;
  entries_head->addWidget(entries_label);
  entries_head->addStretch();
  entries_head->addWidget(file_number_);
  auto* files_layout = new QVBoxLayout(files);
  files_layout->addLayout(folder_row);
  files_layout->addLayout(listing_head);
  files_layout->addWidget(listing_, 3);
  files_layout->addLayout(entries_head);
  files_layout->addWidget(entries_, 2);
  return files;
}

// The listing's menu: sort order, open, copy and delete.
void RestorePage::BuildListingMenu() {
  menu_ = Named(new QMenu(this), "PopupMenuString");
  QMenu* sort = menu_->addMenu("Files Sort");
  sort->setObjectName("Sort1");
  auto* fields = new QActionGroup(this);
  auto* directions = new QActionGroup(this);
  auto sort_item = [&](QActionGroup* group, const char* text, app::SortMenuItem item) {
    QAction* action = sort->addAction(text);
    action->setCheckable(true);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, item] {
      Guarded(app_->Ui(), [&] { runs_->Browser().PopupmenuAscClick(item); });
      Refresh();
    });
    return action;
  };
  by_name_ = sort_item(fields, "By name", app::SortMenuItem::kByName);
  by_size_ = sort_item(fields, "By size", app::SortMenuItem::kBySize);
  by_date_ = sort_item(fields, "By date", app::SortMenuItem::kByDate);
  sort->addSeparator();
  ascending_ = sort_item(directions, "Ascending", app::SortMenuItem::kAscending);
  descending_ = sort_item(directions, "Descending", app::SortMenuItem::kDescending);
  separator_ = menu_->addSeparator();
  open_ = menu_->addAction("Open Zip File");
  open_->setObjectName("OpenZipFile1");
  copy_ = menu_->addAction("Copy the Zip File to...");
  copy_->setObjectName("MenuCopy");
  delete_ = menu_->addAction("Delete Zip Files Selected");
  delete_->setObjectName("menuDelete");
  connect(open_, &QAction::triggered, this, &RestorePage::OpenCurrent);
  connect(copy_, &QAction::triggered, this, &RestorePage::CopyCurrent);
  connect(delete_, &QAction::triggered, this, &RestorePage::DeleteSelected);
  connect(listing_, &QTableView::customContextMenuRequested, this, [this](const QPoint& pos) {
    PrepareMenu();
    menu_->popup(listing_->viewport()->mapToGlobal(pos));
  });
  connect(listing_, &QTableView::doubleClicked, this, [this] { OpenCurrent(); });
  connect(listing_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &RestorePage::ListingSelectionChanged);
  connect(listing_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          &RestorePage::ListingSelectionChanged);
}

void RestorePage::Refresh() {
  showing_ = true;
  const app::ArchiveBrowser& browser = runs_->Browser();
  if (folder_->text() != Q(browser.Folder())) folder_->setText(Q(browser.Folder()));
  QVector<QStringList> rows;
  rows.reserve(static_cast<int>(browser.Rows().size()));
  for (const app::ArchiveRow& row : browser.Rows()) rows.push_back({Q(row.name), Q(row.size_kb), Q(row.date)});
  listing_model_->SetRows(std::move(rows));
  QVector<QStringList> entries;
  entries.reserve(static_cast<int>(browser.Entries().size()));
  for (const app::EntryRow& row : browser.Entries())
    entries.push_back({Q(row.name), Q(row.compressed_size), Q(row.path)});
  entries_model_->SetRows(std::move(entries));
  entries_->scrollToTop();
  zip_number_->setText(
      Q(browser.ZipNumberLabel().empty() ? app::ArchiveBrowser::TotalLabel(0) : browser.ZipNumberLabel()));
  file_number_->setText(
      Q(browser.FileNumberLabel().empty() ? app::ArchiveBrowser::TotalLabel(0) : browser.FileNumberLabel()));
  ShowSelection();

  const app::AppSettings& s = app_->Settings();
  by_name_->setChecked(s.sort_field == app::SortField::kName);
  by_size_->setChecked(s.sort_field == app::SortField::kSize);
  by_date_->setChecked(s.sort_field == app::SortField::kDate);
  ascending_->setChecked(!s.sort_descending);
  descending_->setChecked(s.sort_descending);

  const app::RestoreRun& restore = runs_->Restore();
  if (dest_dir_->text() != Q(restore.DestDir())) {
    const QSignalBlocker block(dest_dir_);
    dest_dir_->setText(Q(restore.DestDir()));
  }
  mode_prompt_->setChecked(restore.OverwriteMode() == zip::TUZOverwriteMode::Prompt);
  mode_always_->setChecked(restore.OverwriteMode() == zip::TUZOverwriteMode::Always);
  mode_never_->setChecked(restore.OverwriteMode() == zip::TUZOverwriteMode::Never);
  mode_newer_->setChecked(restore.OverwriteMode() == zip::TUZOverwriteMode::ifNewer);
  mode_older_->setChecked(restore.OverwriteMode() == zip::TUZOverwriteMode::ifOlder);
  showing_ = false;
}

void RestorePage::ShowSelection() {
  const app::ArchiveBrowser& browser = runs_->Browser();
  QItemSelectionModel* selection = listing_->selectionModel();
  const QSignalBlocker block(selection);
  selection->clearSelection();
  if (browser.CurrentRow() < 0) {
    listing_->viewport()->update();
    return;
  }
  const QItemSelection rows(listing_model_->index(browser.SelectionTop(), 0),
                            listing_model_->index(browser.SelectionBottom(), listing_model_->columnCount() - 1));
  selection->select(rows, QItemSelectionModel::Select);
  selection->setCurrentIndex(listing_model_->index(browser.CurrentRow(), 0), QItemSelectionModel::NoUpdate);
  listing_->scrollTo(listing_model_->index(browser.CurrentRow(), 0));
  listing_->viewport()->update();
}

void RestorePage::ListingSelectionChanged() {
  if (showing_) return;
  app::ArchiveBrowser& browser = runs_->Browser();
  if (browser.Rows().empty()) return;
  const QModelIndex current = listing_->selectionModel()->currentIndex();
  const QModelIndexList rows = listing_->selectionModel()->selectedRows();
  if (!current.isValid() || rows.isEmpty()) return;
  int top = rows.front().row();
  int bottom = top;
  for (const QModelIndex& index : rows) {
    top = std::min(top, index.row());
    bottom = std::max(bottom, index.row());
  }
  const int row = current.row();
  if (top == bottom) {
    if (row == browser.CurrentRow() && browser.SelectionTop() == browser.SelectionBottom()) return;
    Guarded(app_->Ui(), [&] { browser.SelectRow(row); });
  } else {
    // Shift+click: the block from the anchor to the clicked row, whose entries are shown.
    if (row == bottom) {
      browser.SelectRange(top, bottom);
    } else {
      browser.SelectRange(bottom, top);
    }
    Guarded(app_->Ui(), [&] { browser.ShowArchiveEntries(browser.CurrentName()); });
  }
  Refresh();
}

void RestorePage::PrepareMenu() {
  const bool visible = runs_->Browser().FileItemsVisible();
  separator_->setVisible(visible);
  open_->setVisible(visible);
  copy_->setVisible(visible);
  delete_->setVisible(visible);
}

void RestorePage::OpenCurrent() {
  app::ArchiveBrowser& browser = runs_->Browser();
  const std::string name = browser.CurrentName();
  if (name.empty()) return;
  DesktopOpener()(QUrl::fromLocalFile(Q(browser.ArchivePath(name))));
  Refresh();
}

void RestorePage::CopyCurrent() {
  Guarded(app_->Ui(), [this] { app::CopyZipFile(runs_->Browser(), app_->Ui()); });
  Refresh();
}

void RestorePage::DeleteSelected() {
  Guarded(app_->Ui(), [this] { app::DeleteSelectedZipFiles(runs_->Browser(), app_->Ui()); });
  Refresh();
}

void RestorePage::ChooseArchiveFolder() {
  std::string folder = runs_->Browser().Folder();
  Guarded(app_->Ui(), [&] {
    if (app_->Ui().ChooseFolder("Please select directory", folder)) runs_->Browser().SetFolder(folder);
  });
  Refresh();
}

void RestorePage::ChooseDestination() {
  std::string folder = S(dest_dir_->text());
  Guarded(app_->Ui(), [&] {
    if (app_->Ui().ChooseFolder("Please select directory", folder)) runs_->Restore().SetDestDir(folder);
  });
  Refresh();
}

}  // namespace kzb::gui
