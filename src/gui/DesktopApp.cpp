#include "gui/DesktopApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <string>
#include <vector>

#include "gui/AboutForm.h"
#include "gui/MainWindow.h"
#include "gui/Shell.h"
#include "trace/StateFiles.h"

namespace quillon {

namespace {

// QUILLON_SCREENSHOT=file.png: once the trace that the command line started
// has ended (or after a minute), the window saves a picture of itself there
// and closes. The lab tests use it to record what the window showed.
void ArmScreenshot(TMainWindow& window) {
  const QString path = qEnvironmentVariable("QUILLON_SCREENSHOT");
  if (path.isEmpty()) return;
  auto* timer = new QTimer(&window);
  QElapsedTimer clock;
  clock.start();
  QObject::connect(timer, &QTimer::timeout, &window, [&window, timer, clock, path] {
    constexpr qint64 LimitMs = 60000;
    if (window.Form().Running && clock.elapsed() < LimitMs) return;
    timer->stop();
    window.grab().save(path);
    window.close();
  });
  timer->start(250);
}

}  // namespace

int RunDesktop(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillon"));
  // No display name: the desktop would add it to every caption ("About — Quillon").
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quillon")));
  SetHelpFile(BuiltInHelpFile());

  // Qt has taken its own options out of the argument list by now.
  std::vector<std::string> parameters;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i)
    parameters.push_back(arguments[i].toLocal8Bit().toStdString());

  TMainWindow window(DefaultFormFiles(), parameters);
  TAboutFrm about(&window);
  window.SetAboutForm(&about);
  ArmScreenshot(window);
  return RunMainWindow(window);
}

int RunMainWindow(TMainWindow& window) {
  window.show();
  const int code = QApplication::exec();
  // Closing does not wait for workers; the name cache is already saved.
  return ExitWithoutWaitingForWorkers(&window.Form(), code);
}

}  // namespace quillon
