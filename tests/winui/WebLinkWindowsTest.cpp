// The About window's web link: the program of the registered HTML-file open
// command is started with the address as its only parameter. A stand-in
// browser (the robot, started with a variable that makes it note its command
// line) takes the place of the real one for the test.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "winui/ShellWindows.h"
#include "winui/Win32.h"

namespace quillon {
namespace {

constexpr char OpenCommandKey[] = "htmlfile\\shell\\open\\command";

// Sets the default value of the open command for the test and puts the old
// one back afterwards.
class RegisteredCommand {
 public:
  explicit RegisteredCommand(const std::string& command) {
    RegCreateKeyExA(HKEY_CLASSES_ROOT, OpenCommandKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key_, nullptr);
    DWORD size = sizeof old_;
    hadOld_ = RegQueryValueExA(key_, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old_),
                               &size) == ERROR_SUCCESS;
    Set(command);
  }
  ~RegisteredCommand() {
    if (hadOld_)
      Set(old_);
    else
      RegDeleteValueA(key_, nullptr);
    RegCloseKey(key_);
  }
  RegisteredCommand(const RegisteredCommand&) = delete;
  RegisteredCommand& operator=(const RegisteredCommand&) = delete;

 private:
  void Set(const std::string& value) {
    RegSetValueExA(key_, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
  HKEY key_ = nullptr;
  char old_[1024] = {};
  bool hadOld_ = false;
};

std::string Folder(const std::string& path) {
  return path.substr(0, path.find_last_of('\\'));
}

TEST(WebLink, StartsTheQuotedProgramWithTheAddressAlone) {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string browser = Folder(self) + "\\quillon_winrobot.exe";
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string record =
      std::string(temp) + "quillon-weblink-" + std::to_string(GetCurrentProcessId()) + ".txt";
  DeleteFileA(record.c_str());
  SetEnvironmentVariableA("QUILLON_RECORD_COMMAND_LINE", record.c_str());
  RegisteredCommand command("\"" + browser + "\" -nohome \"%1\"");

  OpenWebAddress("https://quillon.example.org/");

  std::string started;
  for (int i = 0; i < 200 && started.empty(); ++i) {
    Sleep(50);
    std::ifstream in(record, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    started = text.str();
  }
  SetEnvironmentVariableA("QUILLON_RECORD_COMMAND_LINE", nullptr);
  DeleteFileA(record.c_str());
  // The program path as the first word, then the address: the registered
  // arguments and their placeholder are not passed on.
  ASSERT_FALSE(started.empty()) << "the program was not started";
  EXPECT_NE(started.find("quillon_winrobot.exe"), std::string::npos) << started;
  EXPECT_EQ(started.substr(started.find(".exe") + 4), "\" https://quillon.example.org/") << started;
}

}  // namespace
}  // namespace quillon
