#include "gui/program.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "app/common/data_dir.h"
#include "gui/gui_support.h"
#include "gui/main_window.h"
#include "gui/single_instance.h"
#include "platform/system.h"

namespace kzb::gui {

namespace {

// How long a start waits for a window that holds the lock but does not answer yet (it is starting).
constexpr int kPeerWaitMs = 3000;

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::string UsageText() {
  return "Usage: kestrova-zip-backup [--data-dir DIR]\n"
         "       kestrova-zip-backup --help | --version\n"
         "\n"
         "Kestrova ZIP Backup: the backup window. It keeps its projects, log and retention data in the data\n"
         "folder: the program's folder when it is writable, else ~/.config/kestrova-zip-backup/; --data-dir\n"
         "DIR or the KZB_DATA_DIR environment variable choose another. One window runs per user and data\n"
         "folder; starting it again brings the running window to the front.\n"
         "\n"
         "Without a display, use the command-line front end on the same data: kzb --help\n";
}

ProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments) {
  ProgramOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    if (a == "--help" || a == "-h") {
      options.help = true;
    } else if (a == "--version") {
      options.version = true;
    } else if (a == "--data-dir") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        options.error = "--data-dir needs a folder";
        return options;
      }
      options.data_dir = arguments[++i];
    } else if (a.rfind("--data-dir=", 0) == 0) {
      options.data_dir = a.substr(11);
      if (options.data_dir.empty()) {
        options.error = "--data-dir needs a folder";
        return options;
      }
    } else {
      options.error = "unknown argument '" + a + "'";
      return options;
    }
  }
  return options;
}

bool DisplayAvailable() {
  return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY") || EnvironmentSet("QT_QPA_PLATFORM");
}

int RunWindowProgram(int argc, char** argv) {
  std::vector<std::string> arguments;
  std::vector<char*> qt_arguments = {argv[0]};
  // Qt's own options pass through to Qt; everything else is ours.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "-platform" || a == "-display" || a == "-style" || a == "-qwindowgeometry") && i + 1 < argc) {
      qt_arguments.push_back(argv[i]);
      qt_arguments.push_back(argv[++i]);
    } else {
      arguments.push_back(a);
    }
  }
  const ProgramOptions options = ParseProgramOptions(arguments);
  if (!options.error.empty()) {
    std::cerr << "kestrova-zip-backup: " << options.error << "\n\n" << UsageText();
    return 2;
  }
  if (options.help) {
    std::cout << UsageText();
    return 0;
  }
  if (options.version) {
    std::cout << kProgramName << " " << kVersion << "\n";
    return 0;
  }
  if (!DisplayAvailable()) {
    std::cerr << "kestrova-zip-backup: no display is available (DISPLAY and WAYLAND_DISPLAY are not set), so the "
                 "window cannot open.\nThe command-line front end works without one on the same data, e.g.:\n"
                 "  kzb projects        list the projects and their schedules\n"
                 "  kzb backup NAME     back up a project now\n"
                 "  kzb schedule        run the scheduled backups until interrupted\n"
                 "  kzb --help          every command (add, edit, restore, log, ...)\n";
    return 1;
  }

  int qt_argc = static_cast<int>(qt_arguments.size());
  qt_arguments.push_back(nullptr);
  QApplication application(qt_argc, qt_arguments.data());
  QApplication::setApplicationName("kestrova-zip-backup");
  QApplication::setApplicationDisplayName(kProgramName);
  QApplication::setApplicationVersion(kVersion);
  QApplication::setDesktopFileName("kestrova-zip-backup");
  QApplication::setWindowIcon(ProgramIcon("app"));
  // The window lives on in the tray when hidden; only its close ends the program.
  QApplication::setQuitOnLastWindowClosed(false);

  std::string data_dir;
  try {
    data_dir = app::ResolveDataDir(options.data_dir);
  } catch (const std::exception& error) {
    std::cerr << "kestrova-zip-backup: " << error.what() << "\n";
    return 1;
  }
  SingleInstance instance(Q(data_dir));
  if (instance.ActivateRunning()) return 0;

  // The window lock: kzb refuses project changes while it is held, and a second window cannot start.
  platform::FileLock lock(app::WindowLockPath(data_dir), 0);
  if (!lock.Held() && platform::IsLockedByOtherProcess(app::WindowLockPath(data_dir))) {
    // Another window holds it and is still starting: give it the request once it listens.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kPeerWaitMs) {
      if (instance.ActivateRunning(250)) return 0;
    }
    const QString message = QString(
                                "Kestrova ZIP Backup is already running on the data folder %1 and does not "
                                "answer.")
                                .arg(Q(data_dir));
    std::cerr << S(message) << "\n";
    QMessageBox::critical(nullptr, kProgramName, message);
    return 1;
  }
  if (!lock.Held()) {
    // The lock file cannot even be created (a read-only data folder): the window still opens, and every
    // change it cannot write is reported when it is made.
    QMessageBox::warning(nullptr, kProgramName,
                         QString("The data folder %1 cannot be written (the lock file %2 cannot be created). "
                                 "Projects, settings and the log can be viewed, but changes cannot be saved.")
                             .arg(Q(data_dir), Q(app::WindowLockPath(data_dir))));
  }
  if (!instance.Listen()) {
    std::cerr << "kestrova-zip-backup: cannot listen for later starts; they will not find this window\n";
  }

  MainWindowOptions window_options;
  window_options.data_dir = data_dir;
  window_options.program_path = S(QApplication::applicationFilePath());
  MainWindow window(window_options);
  QObject::connect(&instance, &SingleInstance::ActivationRequested, &window, &MainWindow::BringToFront);
  QObject::connect(&window, &MainWindow::Closed, &application, &QApplication::quit, Qt::QueuedConnection);
  window.Start();
  window.ShowAtStart();
  return QApplication::exec();
}

}  // namespace kzb::gui
