// The reverse-name cache: append-only lists of fixed-size records, held in
// memory exactly as they are stored in the name cache files, so that a record
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

// Fills the record up to its date's 8-byte boundary, as the first file's
// layout did; an address field of some widths needs none.
template <std::size_t Size>
struct TRecordGap {
  std::uint8_t Bytes[Size];
};
template <>
struct TRecordGap<0> {};

// One cached name. Lengths are single bytes followed by fixed character fields;
// bytes after a field's length are zero in records we create and ignored on reading.
// The address field is 20 characters in the IPv4 file and 63 in the IPv6 one,
// room for a canonical IPv6 address with a zone.
template <std::size_t AddressWidth>
struct TDnsRecordOf {
  static constexpr std::size_t AddressCapacity = AddressWidth;
  static constexpr std::size_t HostNameCapacity = 255;
  static constexpr std::size_t GapSize = (8 - (AddressCapacity + HostNameCapacity + 2) % 8) % 8;

  std::uint8_t AddressLength;
  char AddressChars[AddressCapacity];
  std::uint8_t HostNameLength;
  char HostNameChars[HostNameCapacity];
  [[no_unique_address]] TRecordGap<GapSize> Gap;
  // Little-endian IEEE-754 double, an OLE Automation date in local time. Kept as
  // bytes so the layout does not depend on the host's byte order or alignment.
  std::uint8_t Added[8];

  // The texts as far as their fields reach: a damaged length byte above the
  // field's size never lets a reader run into the next field.
  std::string_view Address() const;
  std::string_view HostName() const;
  double AddedDate() const;

  // A zero-filled record with the texts cut to their fields.
  static TDnsRecordOf Make(std::string_view address, std::string_view hostName, double added);
};

// The records of the ".dnb" file: IPv4 addresses.
using TDnsRecord = TDnsRecordOf<20>;
// The records of the ".dn6" file beside it: IPv6 addresses.
using TDnsRecord6 = TDnsRecordOf<63>;

static_assert(sizeof(TDnsRecord) == 288);
static_assert(offsetof(TDnsRecord, AddressLength) == 0);
static_assert(offsetof(TDnsRecord, AddressChars) == 1);
static_assert(offsetof(TDnsRecord, HostNameLength) == 21);
static_assert(offsetof(TDnsRecord, HostNameChars) == 22);
static_assert(offsetof(TDnsRecord, Gap) == 277);
static_assert(offsetof(TDnsRecord, Added) == 280);
static_assert(sizeof(TDnsRecord6) == 328);
static_assert(offsetof(TDnsRecord6, HostNameLength) == 64);
static_assert(offsetof(TDnsRecord6, HostNameChars) == 65);
static_assert(offsetof(TDnsRecord6, Added) == 320);

// Where the IPv6 names of the cache at that path are kept: the same folder and
// name, extension ".dn6". Older programs read only the ".dnb" file, so it never
// holds an IPv6 record.
std::string Ipv6CachePath(const std::string& cachePath);

// One cache file's records, in memory exactly as they are stored, so that a
// record written by an older program start is rewritten byte for byte.
template <class TRecord>
class TDnsRecordList {
 public:
  // The first record with exactly that address, or null.
  const TRecord* Find(std::string_view address) const;
  void Append(const TRecord& record);
  void Clear();
  // Replaces the records with the whole records of the file (a trailing part
  // record is ignored), opened for reading only; with keep, only the records
  // whose address it keeps.
  void Load(const std::string& path, bool (*keep)(std::string_view address) = nullptr);
  bool Save(const std::string& path) const;

  std::int32_t Count() const { return static_cast<std::int32_t>(records_.size()); }
  const TRecord& Record(std::int32_t index) const {
    return records_[static_cast<std::size_t>(index)];
  }

 private:
  // Hashes texts and views alike, so a lookup needs no copy of its key.
  struct TTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };

  std::vector<TRecord> records_;
  // Address -> index of its first record; a lookup in a large cache stays cheap.
  std::unordered_map<std::string, std::size_t, TTextHash, std::equal_to<>> firstByAddress_;
};

// Days since 1899-12-30 00:00 with the time of day as the fraction, to the millisecond.
double EncodeOleDate(int year, int month, int day, int hour, int minute, int second,
                     int millisecond);
// The current local date-time as an OLE Automation date.
double NowAsOleDate();

// The reverse-name cache of both address families: IPv4 names in the ".dnb"
// file, IPv6 names (any address text with a ':') in the ".dn6" file beside it.
// Names of link-local addresses (fe80::/10) are kept for the run only: the
// same text names another neighbour on the next network, and a zone's
// interface index changes after a reboot.
class TDnsBuffer {
 public:
  using TDateSource = std::function<double()>;

  // The date source stamps every added record (tests fix it for byte-exact files).
  explicit TDnsBuffer(TDateSource now = NowAsOleDate);

  // The host name of the first record whose address equals the argument (whole
  // text, case-sensitive), or the argument itself when none does.
  std::string FindName(const std::string& address) const;
  // Appends one record; an IPv4 address is cut to 20 characters, the name to
  // 255. An IPv6 address longer than its field is not kept: cut, it would never
  // be found again. A link-local one is kept in memory only (the first name wins).
  void AddName(std::string_view address, std::string_view name);

  // Replaces the records with the whole records of the file at the path and of
  // its IPv6 sibling (a trailing part record is ignored). Opens the files for
  // reading only, so a read-only cache loads too. Any failure ends a file's load
  // silently with the records read so far. Link-local records of an older
  // program are left out (and so gone from the file at the next save).
  void LoadFromFile(const std::string& path);
  // Writes every record, oldest first, through a temporary file that replaces the
  // old one only when complete: a failed save leaves the previous cache whole.
  // The IPv6 sibling is written when it has records or exists already, so an
  // IPv4-only user finds no new file. Failures are silent (the cache is a convenience); true
  // when every file was saved.
  bool SaveToFile(const std::string& path) const;

  // The records of the ".dnb" file.
  std::int32_t Count() const { return names4_.Count(); }
  const TDnsRecord& Record(std::int32_t index) const { return names4_.Record(index); }
  // The records of each file.
  const TDnsRecordList<TDnsRecord>& Ipv4Names() const { return names4_; }
  const TDnsRecordList<TDnsRecord6>& Ipv6Names() const { return names6_; }

 private:
  TDateSource now_;
  TDnsRecordList<TDnsRecord> names4_;
  TDnsRecordList<TDnsRecord6> names6_;
  std::unordered_map<std::string, std::string> linkLocalNames_;  // this run's only
};

}  // namespace quillon
