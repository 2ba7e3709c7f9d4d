#include "gui/gui_user_interface.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QWidget>

#include "app/common/text_utils.h"
#include "gui/gui_support.h"
#include "gui/name_dialog.h"
#include "gui/timed_message_box.h"
#include "gui/wildcard_dialogs.h"
#include "platform/ini_file.h"

namespace kzb::gui {

namespace {

QMessageBox::Icon BoxIcon(app::MessageKind kind) {
  switch (kind) {
    case app::MessageKind::kWarning:
      return QMessageBox::Warning;
    case app::MessageKind::kError:
      return QMessageBox::Critical;
    case app::MessageKind::kInformation:
      return QMessageBox::Information;
    case app::MessageKind::kConfirm:
      return QMessageBox::Question;
    case app::MessageKind::kCustom:
      break;
  }
  return QMessageBox::NoIcon;
}

QString Shown(const std::string& text) {
  return Q(app::CarriageReturnsToNewlines(text));
}

// Tells the owner while a modal dialog is open.
class ModalScope {
 public:
  explicit ModalScope(const std::function<void(bool)>& on_modal) : on_modal_(on_modal) {
    if (on_modal_) on_modal_(true);
  }
  ~ModalScope() {
    if (on_modal_) on_modal_(false);
  }

 private:
  const std::function<void(bool)>& on_modal_;
};

// A folder a chooser can start in: the given one when it exists, else the home folder.
QString StartFolder(const std::string& folder) {
  const QString candidate = Q(app::Trim(folder));
  if (!candidate.isEmpty() && QFileInfo(candidate).isDir()) return candidate;
  return QDir::homePath();
}

}  // namespace

GuiUserInterface::GuiUserInterface(std::string project_file) : project_file_(std::move(project_file)) {}

void GuiUserInterface::ShowMessage(const std::string& text, app::MessageKind kind) {
  if (answerer_ != nullptr) return answerer_->ShowMessage(text, kind);
  ModalScope scope(OnModal);
  QMessageBox box(BoxIcon(kind), TimedMessageBox::TitleOf(kind), Shown(text), QMessageBox::Ok, Parent());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool GuiUserInterface::AskYesNo(const std::string& text, app::MessageKind kind) {
  if (answerer_ != nullptr) return answerer_->AskYesNo(text, kind);
  ModalScope scope(OnModal);
  QMessageBox box(BoxIcon(kind), TimedMessageBox::TitleOf(kind), Shown(text), QMessageBox::Yes | QMessageBox::No,
                  Parent());
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

void GuiUserInterface::ShowTimedMessage(const std::string& text, app::MessageKind kind, int seconds) {
  QWidget* window = Parent();
  if (tray_ != nullptr && tray_->isVisible() && window != nullptr && !window->isVisible()) {
    last_notification_ = TimedMessageBox::TitleOf(kind) + "\n" + Shown(text);
    const QSystemTrayIcon::MessageIcon icon = kind == app::MessageKind::kError     ? QSystemTrayIcon::Critical
                                              : kind == app::MessageKind::kWarning ? QSystemTrayIcon::Warning
                                                                                   : QSystemTrayIcon::Information;
    tray_->showMessage(TimedMessageBox::TitleOf(kind), Shown(text), icon, std::max(1, seconds) * 1000);
  }
  if (answerer_ != nullptr) return answerer_->ShowTimedMessage(text, kind, seconds);
  ModalScope scope(OnModal);
  TimedMessageBox::Show(Q(text), kind, seconds, window != nullptr && window->isVisible() ? window : nullptr);
}

bool GuiUserInterface::InputText(const std::string& caption, const std::string& label, std::string& text) {
  if (answerer_ != nullptr) return answerer_->InputText(caption, label, text);
  ModalScope scope(OnModal);
  NameDialog dialog(Q(caption), Q(label), Q(text), *this, Parent());
  if (dialog.exec() != QDialog::Accepted) return false;
  text = S(dialog.Text());
  return true;
}

bool GuiUserInterface::ChooseFolder(const std::string& caption, std::string& folder) {
  if (answerer_ != nullptr) return answerer_->ChooseFolder(caption, folder);
  ModalScope scope(OnModal);
  const QString chosen = QFileDialog::getExistingDirectory(Parent(), Q(caption), StartFolder(folder));
  if (chosen.isEmpty()) return false;
  folder = S(QDir::toNativeSeparators(chosen));
  return true;
}

bool GuiUserInterface::ChooseFiles(const std::string& caption, std::vector<std::string>& files) {
  if (answerer_ != nullptr) return answerer_->ChooseFiles(caption, files);
  ModalScope scope(OnModal);
  QFileDialog dialog(Parent(), Q(caption), QDir::currentPath());
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setOption(QFileDialog::ReadOnly, false);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return false;
  files.clear();
  for (const QString& file : dialog.selectedFiles()) files.push_back(S(QDir::toNativeSeparators(file)));
  return !files.empty();
}

bool GuiUserInterface::SelectByWildcard(std::string& folder, std::string& mask) {
  if (answerer_ != nullptr) return answerer_->SelectByWildcard(folder, mask);
  ModalScope scope(OnModal);
  SelectByWildcardDialog dialog(project_file_, *this, Parent());
  if (dialog.exec() != QDialog::Accepted) return false;
  folder = S(dialog.Folder());
  mask = S(dialog.Mask());
  return true;
}

}  // namespace kzb::gui
