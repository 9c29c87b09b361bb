#include "trace/DnsBuffer.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "net/IdIPAddress.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Text.h"
#include "trace/StateFiles.h"

namespace quillon {
namespace {

bool IsLinkLocalText(std::string_view address) {
  TIdIPv6Address parsed;
  return ParseIPv6Text(address, parsed) && IsLinkLocal(parsed.Bytes);
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// 1899-12-30, day 0 of the OLE Automation date, counted from 1970-01-01.
constexpr std::int64_t OleEpochFromUnix = -25569;

void PutDouble(std::uint8_t (&bytes)[8], double value) {
  auto bits = std::bit_cast<std::uint64_t>(value);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(bits & 0xFF);
    bits >>= 8;
  }
}

double GetDouble(const std::uint8_t (&bytes)[8]) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes[i];
  return std::bit_cast<double>(bits);
}

}  // namespace

template <std::size_t W>
std::string_view TDnsRecordOf<W>::Address() const {
  return {AddressChars, std::min<std::size_t>(AddressLength, AddressCapacity)};
}

template <std::size_t W>
std::string_view TDnsRecordOf<W>::HostName() const {
  return {HostNameChars, std::min<std::size_t>(HostNameLength, HostNameCapacity)};
}

template <std::size_t W>
double TDnsRecordOf<W>::AddedDate() const {
  return GetDouble(Added);
}

template <std::size_t W>
TDnsRecordOf<W> TDnsRecordOf<W>::Make(std::string_view address, std::string_view hostName,
                                      double added) {
  TDnsRecordOf record{};
  address = address.substr(0, AddressCapacity);
  hostName = hostName.substr(0, HostNameCapacity);
  record.AddressLength = static_cast<std::uint8_t>(address.size());
  std::memcpy(record.AddressChars, address.data(), address.size());
  record.HostNameLength = static_cast<std::uint8_t>(hostName.size());
  std::memcpy(record.HostNameChars, hostName.data(), hostName.size());
  PutDouble(record.Added, added);
  return record;
}

double EncodeOleDate(int year, int month, int day, int hour, int minute, int second,
                     int millisecond) {
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
      OleEpochFromUnix;
  const std::int64_t msOfDay =
      ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  return static_cast<double>(days) + static_cast<double>(msOfDay) / 86'400'000.0;
}

double NowAsOleDate() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  if (!LocalTime(seconds, local)) return 0.0;
  return EncodeOleDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec, static_cast<int>(ms < 0 ? ms + 1000 : ms));
}

std::string Ipv6CachePath(const std::string& cachePath) {
  return ChangeFileExt(cachePath, ".dn6");
}

template <class TRecord>
const TRecord* TDnsRecordList<TRecord>::Find(std::string_view address) const {
  // The index holds the oldest record of each address: the first of several
  // duplicates wins, as a walk from the first record would find.
  const auto found = firstByAddress_.find(address);
  return found == firstByAddress_.end() ? nullptr : &records_[found->second];
}

// Every change to the records goes through Append and Clear, which keep the
// index beside them in step.
template <class TRecord>
void TDnsRecordList<TRecord>::Append(const TRecord& record) {
  firstByAddress_.try_emplace(std::string(record.Address()), records_.size());
  records_.push_back(record);
}

template <class TRecord>
void TDnsRecordList<TRecord>::Clear() {
  records_.clear();
  firstByAddress_.clear();
}

template <class TRecord>
void TDnsRecordList<TRecord>::Load(const std::string& path,
                                   bool (*keep)(std::string_view address)) {
  Clear();
  try {
    // C streams rather than C++ ones: a terminal run then never sets up the
    // C++ locale machinery, a good part of its memory. Read access is all a
    // load needs.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) return;
    TRecord record{};
    while (std::fread(&record, sizeof(TRecord), 1, file.get()) == 1) {
      if (keep == nullptr || keep(record.Address())) Append(record);
    }
  } catch (...) {
    // A cache that cannot be read is simply smaller; the records so far stay.
  }
}

template <class TRecord>
bool TDnsRecordList<TRecord>::Save(const std::string& path) const {
  try {
    std::string data(records_.size() * sizeof(TRecord), '\0');
    if (!records_.empty()) std::memcpy(data.data(), records_.data(), data.size());
    return ReplaceFileContents(path, data);
  } catch (...) {
    return false;
  }
}

template struct TDnsRecordOf<TDnsRecord::AddressCapacity>;
template struct TDnsRecordOf<TDnsRecord6::AddressCapacity>;
template class TDnsRecordList<TDnsRecord>;
template class TDnsRecordList<TDnsRecord6>;

TDnsBuffer::TDnsBuffer(TDateSource now) : now_(std::move(now)) {}

std::string TDnsBuffer::FindName(const std::string& address) const {
  if (IsIPv6Text(address)) {
    const auto linkLocal = linkLocalNames_.find(address);
    if (linkLocal != linkLocalNames_.end()) return linkLocal->second;
    const TDnsRecord6* record = names6_.Find(address);
    return record ? std::string(record->HostName()) : address;
  }
  const TDnsRecord* record = names4_.Find(address);
  return record ? std::string(record->HostName()) : address;
}

void TDnsBuffer::AddName(std::string_view address, std::string_view name) {
  const double added = now_ ? now_() : NowAsOleDate();
  if (!IsIPv6Text(address)) {
    names4_.Append(TDnsRecord::Make(address, name, added));
  } else if (IsLinkLocalText(address)) {
    linkLocalNames_.try_emplace(std::string(address), std::string(name));
  } else if (address.size() <= TDnsRecord6::AddressCapacity) {
    names6_.Append(TDnsRecord6::Make(address, name, added));
  }
}

void TDnsBuffer::LoadFromFile(const std::string& path) {
  names4_.Load(path);
  names6_.Load(Ipv6CachePath(path),
               [](std::string_view address) { return !IsLinkLocalText(address); });
  linkLocalNames_.clear();
}

bool TDnsBuffer::SaveToFile(const std::string& path) const {
  const bool saved4 = names4_.Save(path);
  // An IPv4-only user gets no new file; one already there always mirrors the cache.
  const std::string path6 = Ipv6CachePath(path);
  std::error_code error;
  const bool saved6 =
      (names6_.Count() == 0 && !std::filesystem::exists(path6, error)) || names6_.Save(path6);
  return saved4 && saved6;
}

}  // namespace quillon
