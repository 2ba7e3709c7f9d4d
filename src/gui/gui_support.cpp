#include "gui/gui_support.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QTime>
#include <QUrl>
#include <QWidget>

namespace kzb::gui {

QString MainWindowCaption() {
  return QString("%1  V%2").arg(kProgramName, kVersion);
}

QIcon ProgramIcon(const char* name) {
  return QIcon(QString(":/icons/%1.svg").arg(name));
}

void CenterOnScreen(QWidget* widget) {
  QScreen* screen = widget->screen() != nullptr ? widget->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QSize size = widget->frameGeometry().size();
  widget->move(area.left() + std::max(0, (area.width() - size.width()) / 2),
               area.top() + std::max(0, (area.height() - size.height()) / 2));
}

QDate ToQDate(platform::DateTime value) {
  platform::DateTimeParts p = value.Parts();
  return QDate(p.year, p.month, p.day);
}

QTime ToQTime(platform::DateTime value) {
  platform::DateTimeParts p = value.Parts();
  return QTime(p.hour, p.minute, p.second);
}

platform::DateTime FromQDate(const QDate& date) {
  return platform::DateTime::FromDate(date.year(), date.month(), date.day());
}

platform::DateTime FromQTime(const QTime& time) {
  return platform::DateTime::FromTime(time.hour(), time.minute(), time.second());
}

QString HelpDir() {
  const QString program_dir = QCoreApplication::applicationDirPath();
  const QString beside = program_dir + "/help";
  if (QFileInfo::exists(beside + "/index.html")) return beside;
  return QDir::cleanPath(program_dir + "/../share/kestrova-zip-backup/help");
}

QString HelpTopicPath(int context) {
  return HelpDir() + QString("/%1.html").arg(context);
}
QString HelpStartPage() {
  return HelpDir() + "/index.html";
}

UrlOpener& DesktopOpener() {
  static UrlOpener opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  return opener;
}

void OpenHelpTopic(int context) {
  DesktopOpener()(QUrl::fromLocalFile(HelpTopicPath(context)));
}

bool Guarded(app::UserInterface& ui, const std::function<void()>& command) {
  try {
    command();
    return true;
  } catch (const std::exception& error) {
    ui.ShowError(error.what());
  } catch (...) {
    ui.ShowError("Unexpected error");
  }
  return false;
}

void UseStarPasswordCharacter(QWidget* line_edit) {
  line_edit->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
  if (auto* edit = qobject_cast<QLineEdit*>(line_edit)) edit->setEchoMode(QLineEdit::Password);
}

QDateEdit* NewDateEdit(QWidget* parent) {
  auto* edit = new QDateEdit(parent);
  edit->setDisplayFormat("yyyy-MM-dd");
  edit->setCalendarPopup(true);
  const QFontMetrics metrics = edit->fontMetrics();
  const int button = edit->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, edit);
  edit->setMinimumWidth(metrics.horizontalAdvance("0000-00-00") + button + metrics.averageCharWidth() * 3);
  return edit;
}

void ConnectDestination(QWidget* owner, const DestinationControls& controls, app::ProjectPanel& panel,
                        std::function<void()> show_name, std::function<void()> after_suffix) {
  app::ProjectPanel* target = &panel;
  QObject::connect(controls.prefix, &QLineEdit::textEdited, owner, [target, show_name](const QString& text) {
    target->SetPrefix(S(text));
    show_name();
  });
  const std::pair<QRadioButton*, app::SuffixKind> suffixes[] = {{controls.suffix_none, app::SuffixKind::kNone},
                                                                {controls.suffix_date, app::SuffixKind::kDate},
                                                                {controls.suffix_number, app::SuffixKind::kNumber}};
  for (const auto& [radio, kind] : suffixes) {
    QObject::connect(radio, &QRadioButton::clicked, owner, [target, after_suffix, kind = kind] {
      target->SetSuffixKind(kind);
      after_suffix();
    });
  }
  QObject::connect(controls.next_number, &QSpinBox::valueChanged, owner, [target, show_name](int value) {
    target->SetNextNumber(value);
    show_name();
  });
  QObject::connect(controls.number_step, &QSpinBox::valueChanged, owner, [target, show_name](int value) {
    target->SetNumberStep(value);
    show_name();
  });
  QObject::connect(controls.archive_name, &QLineEdit::textEdited, owner,
                   [target](const QString& text) { target->MutableFields().archive_name = S(text); });
}

}  // namespace kzb::gui
