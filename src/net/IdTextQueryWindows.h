// TXT questions on Windows: the DNS client's record list read into an answer.
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <windns.h>
// clang-format on

#include "net/IdTextQuery.h"

namespace quillon {

// The TXT records of the answer section of DnsQuery_W's list, strings as
// UTF-8, at most Id_TXT_MAX_RECORDS of Id_TXT_MAX_STRINGS strings each; other
// records and sections are passed over.
TIdTextAnswer TextAnswerOfRecords(const DNS_RECORDW* records);

// Whether a DnsQuery_W status is an answer without records (the name or its
// TXT data does not exist) rather than a failure.
bool IsNoRecordStatus(DNS_STATUS status);

}  // namespace quillon
