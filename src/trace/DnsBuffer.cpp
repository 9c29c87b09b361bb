#include "trace/DnsBuffer.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "platform/AtomicFile.h"
#include "platform/Clock.h"

namespace quillon {
namespace {

constexpr std::size_t RecordSize = sizeof(TDnsRecord);

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

std::string_view TDnsRecord::Address() const {
  return {AddressChars, std::min<std::size_t>(AddressLength, AddressCapacity)};
}

std::string_view TDnsRecord::HostName() const {
  return {HostNameChars, std::min<std::size_t>(HostNameLength, HostNameCapacity)};
}

double TDnsRecord::AddedDate() const {
  return GetDouble(Added);
}

TDnsRecord TDnsRecord::Make(std::string_view address, std::string_view hostName, double added) {
  TDnsRecord record{};
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

TDnsBuffer::TDnsBuffer(TDateSource now) : now_(std::move(now)) {}

std::string TDnsBuffer::FindName(const std::string& address) const {
  // The index holds the oldest record of each address: the first of several
  // duplicates wins, as a walk from the first record would find.
  const auto found = firstByAddress_.find(std::string_view(address));
  if (found == firstByAddress_.end()) return address;
  return std::string(records_[found->second].HostName());
}

void TDnsBuffer::AddName(std::string_view address, std::string_view name) {
  Append(TDnsRecord::Make(address, name, now_ ? now_() : NowAsOleDate()));
}

void TDnsBuffer::LoadFromFile(const std::string& path) {
  Clear();
  try {
    // C streams rather than C++ ones: a terminal run then never sets up the
    // C++ locale machinery, a good part of its memory. Read access is all a
    // load needs.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) return;
    TDnsRecord record{};
    while (std::fread(&record, RecordSize, 1, file.get()) == 1) Append(record);
  } catch (...) {
    // A cache that cannot be read is simply smaller; the records so far stay.
  }
}

bool TDnsBuffer::SaveToFile(const std::string& path) const {
  try {
    std::string data(records_.size() * RecordSize, '\0');
    if (!records_.empty()) std::memcpy(data.data(), records_.data(), data.size());
    return ReplaceFileContents(path, data);
  } catch (...) {
    return false;
  }
}

void TDnsBuffer::Append(const TDnsRecord& record) {
  firstByAddress_.try_emplace(std::string(record.Address()), records_.size());
  records_.push_back(record);
}

void TDnsBuffer::Clear() {
  records_.clear();
  firstByAddress_.clear();
}

}  // namespace quillon
