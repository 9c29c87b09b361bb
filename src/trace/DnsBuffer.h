// The reverse-name cache: an append-only list of fixed 288-byte records, held in
// memory exactly as they are stored in the name cache file, so that a record
// written by an older program start is rewritten byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon {

// One cached name. Lengths are single bytes followed by fixed character fields;
// bytes after a field's length are zero in records we create and ignored on reading.
struct TDnsRecord {
  static constexpr std::size_t AddressCapacity = 20;
  static constexpr std::size_t HostNameCapacity = 255;

  std::uint8_t AddressLength;
  char AddressChars[AddressCapacity];
  std::uint8_t HostNameLength;
  char HostNameChars[HostNameCapacity];
  std::uint8_t Gap[3];
  // Little-endian IEEE-754 double, an OLE Automation date in local time. Kept as
  // bytes so the layout does not depend on the host's byte order or alignment.
  std::uint8_t Added[8];

  // The texts as far as their fields reach: a damaged length byte above the
  // field's size never lets a reader run into the next field.
  std::string_view Address() const;
  std::string_view HostName() const;
  double AddedDate() const;

  // A zero-filled record with the texts cut to their fields.
  static TDnsRecord Make(std::string_view address, std::string_view hostName, double added);
};

static_assert(sizeof(TDnsRecord) == 288);
static_assert(offsetof(TDnsRecord, AddressLength) == 0);
static_assert(offsetof(TDnsRecord, AddressChars) == 1);
static_assert(offsetof(TDnsRecord, HostNameLength) == 21);
static_assert(offsetof(TDnsRecord, HostNameChars) == 22);
static_assert(offsetof(TDnsRecord, Gap) == 277);
static_assert(offsetof(TDnsRecord, Added) == 280);

// Days since 1899-12-30 00:00 with the time of day as the fraction, to the millisecond.
double EncodeOleDate(int year, int month, int day, int hour, int minute, int second,
                     int millisecond);
// The current local date-time as an OLE Automation date.
double NowAsOleDate();

class TDnsBuffer {
 public:
  using TDateSource = std::function<double()>;

  // The date source stamps every added record (tests fix it for byte-exact files).
  explicit TDnsBuffer(TDateSource now = NowAsOleDate);

  // The host name of the first record whose address equals the argument (whole
  // text, case-sensitive), or the argument itself when none does.
  std::string FindName(const std::string& address) const;
  // Appends one record; the address is cut to 20 characters, the name to 255.
  void AddName(std::string_view address, std::string_view name);

  // Replaces the records with the whole records of the file (a trailing part
  // record is ignored). Opens the file for reading only, so a read-only cache
  // loads too. Any failure ends the load silently with the records read so far.
  void LoadFromFile(const std::string& path);
  // Writes every record, oldest first, through a temporary file that replaces the
  // old one only when complete: a failed save leaves the previous cache whole.
  // Failures are silent (the cache is a convenience); true when saved.
  bool SaveToFile(const std::string& path) const;

  std::int32_t Count() const { return static_cast<std::int32_t>(records_.size()); }
  const TDnsRecord& Record(std::int32_t index) const {
    return records_[static_cast<std::size_t>(index)];
  }

 private:
  // Every change to the records goes through these two, which keep the index
  // beside them in step.
  void Append(const TDnsRecord& record);
  void Clear();

  // Hashes texts and views alike, so a lookup needs no copy of its key.
  struct TTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };

  TDateSource now_;
  std::vector<TDnsRecord> records_;
  // Address -> index of its first record; FindName over a large cache stays cheap.
  std::unordered_map<std::string, std::size_t, TTextHash, std::equal_to<>> firstByAddress_;
};

}  // namespace quillon
