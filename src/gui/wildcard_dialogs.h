// The two dialogs of the wildcard selection: "Select files by wildcard" (a folder chosen from the
// desktop's mount points and their folders, and a mask typed or taken from the stored list) and "Edit
// Wildcard", the editor of the stored mask list. The rules live in the core (wildcard_masks.h); these
// widgets show them.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "app/common/user_interface.h"
#include "app/project/wildcard_masks.h"

class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;
class QTreeView;

namespace kzb::gui {

// "Edit Wildcard" (`TFormWildcard`).
class WildcardEditorDialog : public QDialog {
  Q_OBJECT

 public:
  WildcardEditorDialog(const std::string& project_file, app::UserInterface& ui, QWidget* parent = nullptr);

  QListWidget* List() const { return list_; }
  QLineEdit* Edit() const { return edit_; }
  const app::WildcardMaskEditor& Model() const { return editor_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Refresh();
  void AddClicked();

  app::UserInterface* ui_;
  app::WildcardMaskEditor editor_;
  QListWidget* list_;
  QLineEdit* edit_;
};

// "Select files by wildcard" (`TFormselectbyfilter`).
class SelectByWildcardDialog : public QDialog {
  Q_OBJECT

 public:
  SelectByWildcardDialog(const std::string& project_file, app::UserInterface& ui, QWidget* parent = nullptr);

  // The folder list's current folder and the mask field's text.
  QString Folder() const { return folder_; }
  QString Mask() const;
  // Makes a folder the current one (as a click in the folder list does).
  void SetFolder(const QString& folder);
  QComboBox* MaskCombo() const { return mask_combo_; }
  QComboBox* DriveCombo() const { return drive_combo_; }
  QLabel* FolderLabel() const { return folder_label_; }

  // The mount points a user can browse: "/", the home folder, and the mounted volumes that are ready and
  // not pseudo file systems.
  static QStringList BrowsableDrives();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FillMasks();
  void EditMasks();
  void DriveChosen(int index);
  void ShowCurrentFolder();

  std::string project_file_;
  app::UserInterface* ui_;
  QString folder_;
  QComboBox* drive_combo_;
  QTreeView* folder_view_;
  QFileSystemModel* folder_model_;
  QLabel* folder_label_;
  QComboBox* mask_combo_;
};

}  // namespace kzb::gui
