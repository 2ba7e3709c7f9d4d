// Small helpers shared by the window's widgets: text conversions between the core's UTF-8 strings and
// Qt, the program's icons, the product's captions, placing dialogs and opening help topics.
#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <string>

#include "app/common/user_interface.h"
#include "app/project/project_panel.h"
#include "platform/date_time.h"

class QDate;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTime;
class QUrl;
class QWidget;

namespace kzb::gui {

// The window's caption and the name shown by "About..." and for message kind 4.
inline constexpr char kProgramName[] = "Kestrova ZIP Backup";
inline constexpr char kVersion[] = "1.08";
QString MainWindowCaption();  // "Kestrova ZIP Backup  V1.08" (two blanks)

inline QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
inline std::string S(const QString& text) {
  return text.toStdString();
}

// One of the program's icons by name ("app", "forauto", "fornormal", "schedule_mark", "new", ...), drawn
// from its SVG at every size asked for.
QIcon ProgramIcon(const char* name);

// Centres a top-level widget on the screen it is on (or the primary screen).
void CenterOnScreen(QWidget* widget);

// Dates and times between the core's day count and Qt's calendar types.
QDate ToQDate(platform::DateTime value);
QTime ToQTime(platform::DateTime value);
platform::DateTime FromQDate(const QDate& date);
platform::DateTime FromQTime(const QTime& time);

// The folder of the shipped help pages: "help/" beside the program, or the installed share folder.
QString HelpDir();
// The page of a help context number (1, 6, 41, 301..306, 302, 601, 801) and the start page.
QString HelpTopicPath(int context);
QString HelpStartPage();

// How the window opens files and web pages with the desktop's programs; tests replace it to record the
// addresses instead of starting a browser.
using UrlOpener = std::function<bool(const QUrl& url)>;
UrlOpener& DesktopOpener();
void OpenHelpTopic(int context);

// Runs a core command from a Qt slot: an error that ends the command is shown with its own message (the
// general error handler), so no exception ever crosses the event loop. False when the command failed.
bool Guarded(app::UserInterface& ui, const std::function<void()>& command);

// Sets a line edit's password character to "*".
void UseStarPasswordCharacter(QWidget* line_edit);

// A date field shown as yyyy-MM-dd with a calendar popup, wide enough for the whole date at any scale
// (the style's own size hint leaves the last digit under the popup button).
QDateEdit* NewDateEdit(QWidget* parent);

// The archive-name controls of a project panel (the Backup page's and the wizard's).
struct DestinationControls {
  QLineEdit* prefix;
  QRadioButton* suffix_none;
  QRadioButton* suffix_date;
  QRadioButton* suffix_number;
  QSpinBox* next_number;
  QSpinBox* number_step;
  QLineEdit* archive_name;
};
// Forwards each edit of the controls to the panel: show_name runs after a change of the prefix or the
// numbers, after_suffix after a change of the suffix kind.
void ConnectDestination(QWidget* owner, const DestinationControls& controls, app::ProjectPanel& panel,
                        std::function<void()> show_name, std::function<void()> after_suffix);

}  // namespace kzb::gui
