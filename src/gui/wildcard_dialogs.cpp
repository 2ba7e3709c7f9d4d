#include "gui/wildcard_dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QStorageInfo>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "gui/gui_support.h"

namespace kzb::gui {

namespace {

constexpr int kEditWildcardHelp = 801;
constexpr int kSelectByWildcardHelp = 302;

QToolButton* ImageButton(QWidget* parent, const char* name, const char* icon, const QString& hint) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setIcon(ProgramIcon(icon));
  button->setIconSize(QSize(20, 20));
  button->setToolTip(hint);
  button->setAutoRaise(false);
  return button;
}

void AddHelpKey(QDialog* dialog, int context) {
  auto* f1 = new QShortcut(QKeySequence::HelpContents, dialog);
  QObject::connect(f1, &QShortcut::activated, dialog, [context] { OpenHelpTopic(context); });
}

}  // namespace

// --- Edit Wildcard ------------------------------------------------------------------------------------

WildcardEditorDialog::WildcardEditorDialog(const std::string& project_file, app::UserInterface& ui, QWidget* parent)
    : QDialog(parent), ui_(&ui), editor_(platform::IniFile(project_file), ui) {
  setObjectName("TFormWildcard");
  setWindowTitle("Edit Wildcard");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  AddHelpKey(this, kEditWildcardHelp);

  auto* list_label = new QLabel("Wildcard list:", this);
  list_ = new QListWidget(this);
  list_->setObjectName("ListBox1");
  list_->setMinimumSize(list_label->fontMetrics().averageCharWidth() * 36, list_label->fontMetrics().height() * 10);
  list_label->setBuddy(list_);
  auto* edit_label = new QLabel("Add wildcard:", this);
  edit_ = new QLineEdit(this);
  edit_->setObjectName("Edit1");
  edit_->setToolTip("Please enter a new  wildcard");
  edit_label->setBuddy(edit_);

  auto* add = ImageButton(this, "SpNew", "add", "Add wildcard");
  auto* remove = ImageButton(this, "Button4", "delete_item", "Delete a item");
  auto* clear = ImageButton(this, "SpeedButton1", "delete_all", "Delete all items");
  auto* up = ImageButton(this, "SpeedButton3", "up", "Up a item");
  auto* down = ImageButton(this, "SpeedButton2", "down", "Down a item");
  auto* help = new QPushButton("Help", this);
  help->setObjectName("Button1");
  help->setAutoDefault(false);
  auto* ok = new QPushButton("&Ok", this);
  ok->setObjectName("btnOk");
  ok->setAutoDefault(false);
  auto* cancel = new QPushButton("Can&cel", this);
  cancel->setObjectName("Button3");
  cancel->setAutoDefault(false);

  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { editor_.Select(row); });
  connect(add, &QToolButton::clicked, this, &WildcardEditorDialog::AddClicked);
  connect(edit_, &QLineEdit::returnPressed, this, &WildcardEditorDialog::AddClicked);
  connect(remove, &QToolButton::clicked, this, [this] {
    Guarded(*ui_, [this] { editor_.DeleteSelected(); });
    Refresh();
  });
  connect(clear, &QToolButton::clicked, this, [this] {
    editor_.Clear();
    Refresh();
  });
  connect(up, &QToolButton::clicked, this, [this] {
    editor_.MoveUp();
    Refresh();
  });
  connect(down, &QToolButton::clicked, this, [this] {
    editor_.MoveDown();
    Refresh();
  });
  connect(help, &QPushButton::clicked, this, [] { OpenHelpTopic(kEditWildcardHelp); });
  connect(ok, &QPushButton::clicked, this, [this] {
    if (Guarded(*ui_, [this] { editor_.Save(); })) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* side = new QVBoxLayout;
  side->addWidget(remove);
  side->addWidget(clear);
  side->addSpacing(8);
  side->addWidget(up);
  side->addWidget(down);
  side->addStretch();
  auto* edit_row = new QHBoxLayout;
  edit_row->addWidget(edit_, 1);
  edit_row->addWidget(add);
  auto* grid = new QGridLayout;
  grid->addWidget(list_label, 0, 0);
  grid->addWidget(list_, 1, 0);
  grid->addLayout(side, 1, 1);
  grid->addWidget(edit_label, 2, 0);
  grid->addLayout(edit_row, 3, 0);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(help);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  Refresh();
}

void WildcardEditorDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterOnScreen(this);
}

void WildcardEditorDialog::AddClicked() {
  editor_.Add(S(edit_->text()));
  edit_->clear();
  Refresh();
}

void WildcardEditorDialog::Refresh() {
  const QSignalBlocker block(list_);
  list_->clear();
  for (const std::string& mask : editor_.Masks()) list_->addItem(Q(mask));
  list_->setCurrentRow(editor_.Selected());
  if (editor_.Selected() < 0) list_->clearSelection();
}

// --- Select files by wildcard -------------------------------------------------------------------------

QStringList SelectByWildcardDialog::BrowsableDrives() {
  QStringList drives = {"/", QDir::homePath()};
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady()) continue;
    const QByteArray type = volume.fileSystemType();
    static const QList<QByteArray> kPseudo = {
        "proc",     "sysfs",      "tmpfs",     "devtmpfs",    "devpts", "cgroup", "cgroup2",  "overlay",
        "squashfs", "securityfs", "debugfs",   "tracefs",     "mqueue", "pstore", "bpf",      "autofs",
        "fusectl",  "configfs",   "hugetlbfs", "binfmt_misc", "nsfs",   "ramfs",  "efivarfs", "rpc_pipefs"};
    if (kPseudo.contains(type)) continue;
    const QString root = volume.rootPath();
    if (root.startsWith("/proc") || root.startsWith("/sys") || root.startsWith("/dev") || root.startsWith("/run")) {
      continue;
    }
    if (!drives.contains(root)) drives.append(root);
  }
  return drives;
}

SelectByWildcardDialog::SelectByWildcardDialog(const std::string& project_file, app::UserInterface& ui, QWidget* parent)
    : QDialog(parent), project_file_(project_file), ui_(&ui) {
  setObjectName("TFormselectbyfilter");
  setWindowTitle("Select files by wildcard");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  AddHelpKey(this, kSelectByWildcardHelp);
  const int char_width = fontMetrics().averageCharWidth();
  const int line = fontMetrics().height();

  auto* drive_label = new QLabel("Drives:", this);
  drive_combo_ = new QComboBox(this);
  drive_combo_->setObjectName("DriveComboBox1");
  drive_combo_->addItems(BrowsableDrives());
  drive_label->setBuddy(drive_combo_);

  auto* dir_label = new QLabel("Directories:", this);
  folder_model_ = new QFileSystemModel(this);
  folder_model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  folder_model_->setRootPath("/");
  folder_view_ = new QTreeView(this);
  folder_view_->setObjectName("DirectoryListBox1");
  folder_view_->setModel(folder_model_);
  for (int column = 1; column < folder_model_->columnCount(); ++column) folder_view_->hideColumn(column);
  folder_view_->setHeaderHidden(true);
  folder_view_->setMinimumSize(char_width * 44, line * 14);
  dir_label->setBuddy(folder_view_);

  auto* folder_caption = new QLabel("Folder name:", this);
  folder_label_ = new QLabel(this);
  folder_label_->setObjectName("labelFolder");
  folder_label_->setTextFormat(Qt::PlainText);
  folder_label_->setWordWrap(true);
  folder_label_->setMinimumWidth(char_width * 44);

  auto* mask_label = new QLabel("Wildcard:", this);
  mask_combo_ = new QComboBox(this);
  mask_combo_->setObjectName("ComboBox1");
  mask_combo_->setEditable(true);
  mask_combo_->setInsertPolicy(QComboBox::NoInsert);
  mask_label->setBuddy(mask_combo_);
  auto* edit_masks = ImageButton(this, "SpeedButton1", "edit_wildcard", "Edit Wildcard");

  auto* ok = new QPushButton("&Ok", this);
  ok->setObjectName("Button1");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Can&cel", this);
  cancel->setObjectName("Button2");
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(edit_masks, &QToolButton::clicked, this, &SelectByWildcardDialog::EditMasks);
  connect(drive_combo_, &QComboBox::activated, this, &SelectByWildcardDialog::DriveChosen);
  connect(folder_model_, &QFileSystemModel::directoryLoaded, this, [this] { ShowCurrentFolder(); });
  connect(folder_view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) {
              folder_ = QDir::toNativeSeparators(folder_model_->filePath(current));
              folder_label_->setText(folder_);
            }
          });

  auto* mask_row = new QHBoxLayout;
  mask_row->addWidget(mask_combo_, 1);
  mask_row->addWidget(edit_masks);
  auto* grid = new QGridLayout;
  grid->addWidget(drive_label, 0, 0);
  grid->addWidget(drive_combo_, 1, 0);
  grid->addWidget(dir_label, 2, 0);
  grid->addWidget(folder_view_, 3, 0);
  grid->addWidget(folder_caption, 4, 0);
  grid->addWidget(folder_label_, 5, 0);
  grid->addWidget(mask_label, 6, 0);
  grid->addLayout(mask_row, 7, 0);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  FillMasks();
  SetFolder(QDir::currentPath());
}

void SelectByWildcardDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterOnScreen(this);
}

QString SelectByWildcardDialog::Mask() const {
  return mask_combo_->currentText();
}

void SelectByWildcardDialog::SetFolder(const QString& folder) {
  const QString native = QDir::toNativeSeparators(QDir::cleanPath(folder));
  // The drive is the longest mount point the folder lies in.
  int best = 0;
  for (int i = 0; i < drive_combo_->count(); ++i) {
    const QString drive = drive_combo_->itemText(i);
    const QString prefix = drive.endsWith('/') ? drive : drive + "/";
    if ((native == drive || native.startsWith(prefix)) && drive.size() > drive_combo_->itemText(best).size()) {
      best = i;
    }
  }
  drive_combo_->setCurrentIndex(best);
  folder_ = native;
  folder_label_->setText(folder_);
  ShowCurrentFolder();
}

void SelectByWildcardDialog::ShowCurrentFolder() {
  // The model reads folders in the background: the current one is shown once its parent is loaded.
  const QModelIndex index = folder_model_->index(folder_);
  if (!index.isValid()) return;
  const QSignalBlocker block(folder_view_->selectionModel());
  folder_view_->setCurrentIndex(index);
  folder_view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

void SelectByWildcardDialog::DriveChosen(int index) {
  SetFolder(drive_combo_->itemText(index));
}

void SelectByWildcardDialog::FillMasks() {
  app::MaskDropDown drop_down = app::LoadMaskDropDown(platform::IniFile(project_file_));
  mask_combo_->clear();
  for (const std::string& mask : drop_down.masks) mask_combo_->addItem(Q(mask));
  if (drop_down.selected >= 0) {
    mask_combo_->setCurrentIndex(drop_down.selected);
  } else {
    mask_combo_->setEditText(Q(drop_down.text));
  }
}

void SelectByWildcardDialog::EditMasks() {
  WildcardEditorDialog editor(project_file_, *ui_, this);
  if (editor.exec() == QDialog::Accepted) FillMasks();
}

}  // namespace kzb::gui
