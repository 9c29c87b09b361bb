#include "net/IdWinSock2.h"

#include "net/IdStackConsts.h"

namespace quillon {
namespace {

std::string FillTitle(const char* format, const std::string& value) {
  std::string title(format);
  title.replace(title.find("%s"), 2, value);
  return title;
}

}  // namespace

EIdWS2StubError::EIdWS2StubError(std::int32_t systemCode, const std::string& callTitle)
    : EIdWS2StubError(systemCode, systemCode != 0 ? SystemErrorMessage(systemCode) : std::string(),
                      callTitle) {}

EIdWS2StubError::EIdWS2StubError(std::int32_t systemCode, const std::string& systemMessage,
                                 const std::string& callTitle)
    : EIdException(systemCode != 0 ? callTitle + ": " + systemMessage : callTitle),
      SystemCode(systemCode),
      SystemMessage(systemCode != 0 ? systemMessage : std::string()),
      CallTitle(callTitle) {}

std::string LoadErrorTitle(const std::string& fileName) {
  return FillTitle("Error on loading Winsock2 library (%s)", fileName);
}

std::string CallErrorTitle(const std::string& exportedName) {
  return FillTitle("Error on call Winsock2 library function %s", exportedName);
}

void RaiseNotStarted(const char* exportedName) {
  throw EIdWS2StubError(Id_WSANOTINITIALISED, CallErrorTitle(exportedName));
}

}  // namespace quillon
