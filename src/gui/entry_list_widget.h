// An include or exclude list with its four buttons ("Select files by wildcard", "Select files by
// filename", "Delete a item", "Delete all items"), used by the Backup page and the add-project wizard.
// The list shown is a vector of the core's project fields; the buttons run the core's list operations on
// it.
#pragma once

#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "app/common/user_interface.h"

class QLabel;
class QListWidget;
class QToolButton;

namespace kzb::gui {

class EntryListWidget : public QWidget {
  Q_OBJECT

 public:
  // name_prefix: prefix of the object names (the list is name_prefix + "List"); button_names: the object
  // names of the four buttons in the order above.
  EntryListWidget(const QString& caption, const QString& list_name, const std::array<const char*, 4>& button_names,
                  app::UserInterface& ui, QWidget* parent = nullptr);

  // The entries shown and edited; must outlive the widget or be replaced before it goes.
  void SetEntries(std::vector<std::string>* entries);
  // Shows the entries again (after they changed outside).
  void Refresh();
  // The selected entry, -1 for none.
  int Selected() const;
  void Select(int index);

  QListWidget* List() const { return list_; }
  QToolButton* Button(int index) const { return buttons_[static_cast<std::size_t>(index)]; }

 signals:
  void Changed();

 private:
  void Run(int operation);

  app::UserInterface* ui_;
  std::vector<std::string>* entries_ = nullptr;
  QListWidget* list_;
  std::array<QToolButton*, 4> buttons_{};
};

}  // namespace kzb::gui
