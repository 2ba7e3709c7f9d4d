// window_bench MODE DATA_DIR [PROJECT]: the window's measured figures, on a real display (bench_window.sh
// runs it under Xvfb). Never part of the test suite.
//
//   startup  From process start (the kernel's start time of this process) to the main window's first
//            paint: Qt's libraries loaded, the core started on the data folder (projects, schedule, log)
//            and the window shown and painted.
//   stall    The longest interval in which the window processes no events while it backs up PROJECT: a
//            5 ms heartbeat timer records the gaps between its ticks from the click to the run's end.
//   restore  From the click on the Restore tab to the listing of the project's destination folder and
//            the first archive's entries painted.
//   idle     The resident memory of the idle window (after start-up and two seconds without input).
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "app/common/scripted_user_interface.h"
#include "gui/main_window.h"
#include "gui/restore_page.h"
#include "gui/text_grid_model.h"

using namespace kzb;

namespace {

// Milliseconds since this process started, from /proc/self/stat's start time (clock ticks since boot).
double MsSinceProcessStart() {
  std::ifstream stat("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  unsigned long long start_ticks = 0;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) start_ticks = std::stoull(field);
  }
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  const double now_ms = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
  return now_ms - start_ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string StatusLine(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return line;
  }
  return "";
}

// Calls a function after the next paint of a widget.
class PaintWatch : public QObject {
 public:
  PaintWatch(QWidget* widget, std::function<void()> after) : after_(std::move(after)) {
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && after_) {
      watched->removeEventFilter(this);
      QTimer::singleShot(0, std::move(after_));
      after_ = nullptr;
    }
    return false;
  }

 private:
  std::function<void()> after_;
};

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: window_bench startup|stall|restore|idle DATA_DIR [PROJECT]\n";
    return 2;
  }
  const std::string mode = argv[1];
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  gui::MainWindowOptions options;
  options.data_dir = argv[2];
  options.program_path = "/usr/local/bin/kestrova-zip-backup";
  QElapsedTimer core;
  core.start();
  gui::MainWindow window(options);
  window.Start();
  const qint64 start_ms = core.elapsed();
  window.ShowAtStart();

  if (mode == "startup") {
    PaintWatch watch(&window, [&] {
      std::cout << "start to painted: " << MsSinceProcessStart() << " ms (window created and core started in "
                << start_ms << " ms; " << window.App().Projects().Size() << " projects, "
                << window.App().Log().Rows().size() << " log rows)\n";
      QApplication::quit();
    });
    return QApplication::exec();
  }

  Settle(500);
  if (mode == "idle") {
    Settle(2000);
    std::cout << "idle window: " << StatusLine("VmRSS:") << ", peak " << StatusLine("VmHWM:") << "\n";
    return 0;
  }

  if (mode == "restore") {
    QElapsedTimer clock;
    bool done = false;
    clock.start();
    window.Pages()->setCurrentIndex(1);  // lists the folder and reads the first archive, inside the click
    PaintWatch watch(window.Restore()->EntriesGrid()->viewport(), [&] { done = true; });
    while (!done) QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::cout << "Restore tab: " << window.Runs().Browser().Rows().size() << " archives listed and "
              << window.Runs().Browser().Entries().size() << " entries of the first shown in " << clock.elapsed()
              << " ms\n";
    return 0;
  }

  if (mode == "stall" && argc >= 4) {
    app::ScriptedUserInterface answers;  // the outcome message closes at once
    window.Ui().SetAnswerer(&answers);
    if (!window.App().SelectProject(argv[3])) {
      std::cerr << "no project " << argv[3] << "\n";
      return 2;
    }
    window.App().LoadSelectedProject();
    window.RefreshAll();
    QElapsedTimer beat;
    qint64 longest = 0;
    qint64 beats = 0;
    QTimer heartbeat;
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
      longest = std::max(longest, beat.restart());
      ++beats;
    });
    QElapsedTimer run;
    run.start();
    beat.start();
    heartbeat.start();
    // The click runs the whole backup inside its handler; the heartbeat ticks only when the pump lets it.
    QTimer::singleShot(0, [&] {
      window.ToolButton("SpStart")->click();
      longest = std::max(longest, beat.elapsed());
      heartbeat.stop();
      QApplication::quit();
    });
    QApplication::exec();
    std::cout << "backup of " << argv[3] << ": " << run.elapsed() << " ms, " << beats << " heartbeats, longest "
              << "interval without events " << longest << " ms";
    if (!answers.Messages().empty()) std::cout << "; outcome: " << answers.Messages().back().text.substr(0, 22);
    std::cout << "\n";
    return 0;
  }
  std::cerr << "unknown mode " << mode << "\n";
  return 2;
}
