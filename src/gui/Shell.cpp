#include "gui/Shell.h"

#include <QDesktopServices>
#include <QString>
#include <exception>

#include "platform/ExecutablePath.h"

namespace quillon {

namespace {

TUrlOpener& Opener() {
  static TUrlOpener opener;
  return opener;
}

std::string& HelpPath() {
  static std::string path;
  return path;
}

bool Open(const QUrl& url) {
  if (!url.isValid()) return false;
  try {
    if (const TUrlOpener& opener = Opener()) return opener(url);
    return QDesktopServices::openUrl(url);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

void SetUrlOpener(TUrlOpener opener) {
  Opener() = std::move(opener);
}

std::string BuiltInHelpFile() {
  const std::string buildTree = QUILLON_BUILD_TREE "/";
  return ExecutablePath().rfind(buildTree, 0) == 0 ? QUILLON_BUILD_HELP_FILE : QUILLON_HELP_FILE;
}

void SetHelpFile(const std::string& path) {
  HelpPath() = path;
}

const std::string& HelpFile() {
  return HelpPath();
}

void OpenWebAddress(const std::string& address) {
  Open(QUrl(QString::fromStdString(address), QUrl::StrictMode));
}

bool ShowHelp() {
  if (HelpPath().empty()) return true;
  return Open(QUrl::fromLocalFile(QString::fromStdString(HelpPath())));
}

std::string NoHelpOpenerText() {
  return "No program to open the help pages was found on this desktop. Install one (on Debian, "
         "the package xdg-utils) or open " +
         HelpPath() + " in a web browser.";
}

}  // namespace quillon
