#include "net/IdTextQueryWindows.h"

#include "net/IdStackWindows.h"
#include "platform/WideText.h"

namespace quillon {

TIdTextAnswer TextAnswerOfRecords(const DNS_RECORDW* records) {
  TIdTextAnswer answer;
  for (const DNS_RECORDW* record = records; record != nullptr; record = record->pNext) {
    if (record->wType != DNS_TYPE_TEXT || record->Flags.S.Section != DnsSectionAnswer) continue;
    if (answer.Records.size() == Id_TXT_MAX_RECORDS) break;
    std::vector<std::string> strings;
    const DWORD count = record->Data.TXT.dwStringCount;
    for (DWORD i = 0; i < count && strings.size() < Id_TXT_MAX_STRINGS; ++i) {
      const PWSTR text = record->Data.TXT.pStringArray[i];
      strings.push_back(text != nullptr ? Utf8FromWide(text) : std::string());
    }
    answer.Records.push_back(std::move(strings));
  }
  return answer;
}

bool IsNoRecordStatus(DNS_STATUS status) {
  return status == DNS_ERROR_RCODE_NAME_ERROR || status == DNS_INFO_NO_RECORDS;
}

TIdTextAnswer TIdStackWindows::QueryText(const std::string& name, int /*timeoutMs*/) {
  DNS_RECORDW* records = nullptr;
  const std::wstring wide = WideFromUtf8(name);
  const DNS_STATUS status = DnsQuery_W(wide.c_str(), DNS_TYPE_TEXT, DNS_QUERY_STANDARD, nullptr,
                                       reinterpret_cast<PDNS_RECORD*>(&records), nullptr);
  if (status != ERROR_SUCCESS) {
    if (records != nullptr) DnsFree(records, DnsFreeRecordList);
    if (IsNoRecordStatus(status)) return {};
    RaiseSocketFailure(status == DNS_ERROR_RCODE_SERVER_FAILURE || status == ERROR_TIMEOUT
                           ? Id_WSATRY_AGAIN
                           : Id_WSANO_RECOVERY);
  }
  TIdTextAnswer answer;
  try {
    answer = TextAnswerOfRecords(records);
  } catch (...) {
    DnsFree(records, DnsFreeRecordList);
    throw;
  }
  DnsFree(records, DnsFreeRecordList);
  return answer;
}

}  // namespace quillon
