#include "gui/entry_list_widget.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/project/entry_lists.h"
#include "gui/gui_support.h"

namespace kzb::gui {

namespace {

struct ButtonLook {
  const char* icon;
  const char* hint;
};
constexpr std::array<ButtonLook, 4> kButtons = {{{"wildcard", "Select files by wildcard"},
                                                 {"filename", "Select files by filename"},
                                                 {"delete_item", "Delete a item"},
                                                 {"delete_all", "Delete all items"}}};

}  // namespace

EntryListWidget::EntryListWidget(const QString& caption, const QString& list_name,
                                 const std::array<const char*, 4>& button_names, app::UserInterface& ui,
                                 QWidget* parent)
    : QWidget(parent), ui_(&ui) {
  auto* label = new QLabel(caption, this);
  list_ = new QListWidget(this);
  list_->setObjectName(list_name);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  label->setBuddy(list_);
  auto* column = new QVBoxLayout;
  column->setSpacing(2);
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    auto* button = new QToolButton(this);
    button->setObjectName(button_names[i]);
    button->setIcon(ProgramIcon(kButtons[i].icon));
    button->setIconSize(QSize(18, 18));
    button->setToolTip(kButtons[i].hint);
    connect(button, &QToolButton::clicked, this, [this, i] { Run(static_cast<int>(i)); });
    buttons_[i] = button;
    column->addWidget(button);
  }
  column->addStretch();
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(2);
  grid->addWidget(label, 0, 0);
  grid->addWidget(list_, 1, 0);
  grid->addLayout(column, 1, 1);
  grid->setRowStretch(1, 1);
}

void EntryListWidget::SetEntries(std::vector<std::string>* entries) {
  entries_ = entries;
  Refresh();
}

void EntryListWidget::Refresh() {
  const QSignalBlocker block(list_);
  const int selected = Selected();
  list_->clear();
  if (entries_ == nullptr) return;
  for (const std::string& entry : *entries_) list_->addItem(Q(entry));
  if (selected >= 0 && selected < list_->count()) Select(selected);
}

int EntryListWidget::Selected() const {
  const int row = list_->currentRow();
  if (row < 0 || list_->item(row) == nullptr || !list_->item(row)->isSelected()) return -1;
  return row;
}

void EntryListWidget::Select(int index) {
  if (index < 0 || index >= list_->count()) {
    list_->clearSelection();
    list_->setCurrentRow(-1);
    return;
  }
  list_->setCurrentRow(index);
  list_->item(index)->setSelected(true);
}

void EntryListWidget::Run(int operation) {
  if (entries_ == nullptr) return;
  int selected = Selected();
  bool changed = false;
  Guarded(*ui_, [&] {
    switch (operation) {
      case 0:
        changed = app::AddFromWildcard(*ui_, *entries_, selected);
        break;
      case 1:
        changed = app::AddFromFiles(*ui_, *entries_);
        break;
      case 2:
        changed = app::DeleteSelectedEntry(*ui_, *entries_, selected);
        break;
      case 3:
        app::ClearEntries(*entries_, selected);
        changed = true;
        break;
      default:
        break;
    }
  });
  if (!changed) return;
  const QSignalBlocker block(list_);
  list_->clear();
  for (const std::string& entry : *entries_) list_->addItem(Q(entry));
  Select(selected);
  emit Changed();
}

}  // namespace kzb::gui
