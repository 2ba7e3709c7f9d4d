#include "gui/name_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/common/text_utils.h"
#include "gui/gui_support.h"

namespace kzb::gui {

NameDialog::NameDialog(const QString& caption, const QString& label, const QString& text, app::UserInterface& ui,
                       QWidget* parent)
    : QDialog(parent), ui_(&ui) {
  setObjectName("TFormRename");
  setWindowTitle(caption);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  auto* prompt = new QLabel(label, this);
  edit_ = new QLineEdit(text, this);
  edit_->setObjectName("EditProjName");
  edit_->setMinimumWidth(prompt->fontMetrics().averageCharWidth() * 40);
  prompt->setBuddy(edit_);
  ok_ = new QPushButton("&Ok", this);
  ok_->setObjectName("ButtonOk");
  ok_->setDefault(true);
  cancel_ = new QPushButton("Can&cel", this);
  cancel_->setObjectName("ButtonCancel");
  connect(ok_, &QPushButton::clicked, this, &NameDialog::OkClicked);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(edit_);
  layout->addSpacing(prompt->fontMetrics().height() / 2);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString NameDialog::Text() const {
  return edit_->text();
}

void NameDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterOnScreen(this);
  edit_->selectAll();
  edit_->setFocus();
}

void NameDialog::OkClicked() {
  if (app::IsBlank(S(edit_->text()))) {
    ui_->ShowMessage("Please enter project name", app::MessageKind::kWarning);
    return;
  }
  accept();
}

}  // namespace kzb::gui
