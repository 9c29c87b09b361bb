// The stack's own operations: address text parsing and formatting, the error
// texts, the result check and socket opening, over a stack whose system calls
// are scripted.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/IdException.h"
#include "net/IdStack.h"

namespace quillon {
namespace {

// Answers every system call from fields and counts what the base asks of it.
class TScriptedStack : public TIdStack {
 public:
  int SockClose(TIdStackSocketHandle) override { return 0; }
  int SockShutdown(TIdStackSocketHandle, int) override { return 0; }
  TIdStackSocketHandle SockOpen(int family, int type, int protocol) override {
    OpenCalls.push_back({family, type, protocol});
    return OpenResult;
  }
  int SockSetOption(TIdStackSocketHandle, int, int, const void*, int) override { return 0; }
  int SockRecv(TIdStackSocketHandle, void*, int, int) override { return -1; }
  int SockSendTo(TIdStackSocketHandle, const void*, int, int, const std::string&, int) override {
    return -1;
  }
  int SockSelect(TIdSocketList*, TIdSocketList*, TIdSocketList*, int) override { return 0; }
  std::int32_t GetSocketError() override {
    ++ErrorFetches;
    return NextError;
  }
  std::string HostNameToAddr(const std::string& hostName) override {
    Lookups.push_back(hostName);
    const auto answer = Answers.find(hostName);
    return answer != Answers.end() ? answer->second : "192.0.2.7";
  }
  // The interfaces of this host: eth0, and names a user may well have.
  TIdInterfaceIndexOf InterfaceIndexOf() override {
    return [](const char* name) -> unsigned {
      const std::string text = name;
      return text == "eth0" ? 2 : text == "v+1" ? 7 : text == "w@2" ? 8 : 0;
    };
  }
  std::map<std::string, std::string> Answers;
  std::string AddrToHostName(const std::string&) override { return "named"; }

  struct TOpen {
    int Family, Type, Protocol;
  };
  std::vector<TOpen> OpenCalls;
  TIdStackSocketHandle OpenResult = Id_INVALID_SOCKET;
  int ErrorFetches = 0;
  std::int32_t NextError = 0;
  std::vector<std::string> Lookups;
};

struct TParseCase {
  const char* Text;
  bool Valid;
  TIdIPv4Bytes Bytes;
  TAddressTextKind Kind;
  TAddressClass Class;
};

using enum TAddressTextKind;
using enum TAddressClass;

// clang-format off
const TParseCase kParseCases[] = {
    {"192.168.1.1", true, {192, 168, 1, 1}, atDotted, acC},
    {"127.0.0.1", true, {127, 0, 0, 1}, atDotted, acA},
    {"127.255.255.255", true, {127, 255, 255, 255}, atDotted, acA},
    {"128.0.0.1", true, {128, 0, 0, 1}, atDotted, acB},
    {"191.255.0.0", true, {191, 255, 0, 0}, atDotted, acB},
    {"223.1.2.3", true, {223, 1, 2, 3}, atDotted, acC},
    {"224.0.0.1", true, {224, 0, 0, 1}, atDotted, acD},
    {"239.255.255.250", true, {239, 255, 255, 250}, atDotted, acD},
    {"240.0.0.1", true, {240, 0, 0, 1}, atDotted, acE},
    {"250.1.1.1", true, {250, 1, 1, 1}, atDotted, acE},
    {"0.0.0.0", true, {0, 0, 0, 0}, atDotted, acA},
    // Three parts: the last is the low 16 bits; two parts: the low 24 bits.
    {"1.2.3", true, {1, 2, 0, 3}, atDotted, acB},
    {"1.2.65535", true, {1, 2, 255, 255}, atDotted, acB},
    {"1.2.65536", false, {}, atInvalid, acNone},
    {"200.2.3", true, {200, 2, 0, 3}, atDotted, acB},
    {"1.65535", true, {1, 0, 255, 255}, atDotted, acA},
    {"1.16777215", true, {1, 255, 255, 255}, atDotted, acA},
    {"1.16777216", false, {}, atInvalid, acNone},
    {"192.1", true, {192, 0, 0, 1}, atDotted, acA},
    // One part: the whole address as one number.
    {"4294967295", true, {255, 255, 255, 255}, atNumeric, acNone},
    {"4294967296", false, {}, atInvalid, acNone},
    {"10", true, {0, 0, 0, 10}, atNumeric, acNone},
    {"3232235777", true, {192, 168, 1, 1}, atNumeric, acNone},
    {"0", true, {0, 0, 0, 0}, atNumeric, acNone},
    // An empty second part makes the first the whole number.
    {"1..2", true, {0, 0, 0, 1}, atNumeric, acNone},
    {"10.", true, {0, 0, 0, 10}, atNumeric, acNone},
    {"10..", true, {0, 0, 0, 10}, atNumeric, acNone},
    // Parts are read as the integer conversion reads them.
    {"0x7F.0.0.1", true, {127, 0, 0, 1}, atDotted, acA},
    {"$FF.0.0.1", true, {255, 0, 0, 1}, atDotted, acE},
    {"x10.1.1.1", true, {16, 1, 1, 1}, atDotted, acA},
    {" 10.0.0.1", true, {10, 0, 0, 1}, atDotted, acA},
    {"+10.0.0.1", true, {10, 0, 0, 1}, atDotted, acA},
    {"0xFFFFFFFF", true, {255, 255, 255, 255}, atNumeric, acNone},
    // Anything out of range or unreadable.
    {"", false, {}, atInvalid, acNone},
    {"256.1.1.1", false, {}, atInvalid, acNone},
    {"1.256.1.1", false, {}, atInvalid, acNone},
    {"1.1.1.256", false, {}, atInvalid, acNone},
    {"1.2.3.4.5", false, {}, atInvalid, acNone},
    {"1.2.3.", true, {1, 2, 0, 3}, atDotted, acB},  // an empty fourth part
    {"-1.0.0.0", false, {}, atInvalid, acNone},
    {"-1", false, {}, atInvalid, acNone},
    {"1.2.3.x", false, {}, atInvalid, acNone},
    {"10.0.0.1 ", false, {}, atInvalid, acNone},
    {"localhost", false, {}, atInvalid, acNone},
    {"a.b.c.d", false, {}, atInvalid, acNone},
    {".1.2.3", false, {}, atInvalid, acNone},
    {"99999999999999999999", false, {}, atInvalid, acNone},
    // Parts beyond 2^64 must not wrap into small numbers.
    {"18446744073709551617", false, {}, atInvalid, acNone},
    {"1.2.3.18446744073709551620", false, {}, atInvalid, acNone},
};
// clang-format on

TEST(StackAddressTest, ParsesEveryFormAndRejectsWhatIsOutOfRange) {
  TScriptedStack stack;
  for (const TParseCase& c : kParseCases) {
    SCOPED_TRACE(std::string("text \"") + c.Text + "\"");
    TIdIPv4Bytes bytes{11, 22, 33, 44};
    TAddressTextKind kind = atDotted;
    TAddressClass addressClass = acE;
    EXPECT_EQ(stack.ParseAddressText(c.Text, &bytes[0], &bytes[1], &bytes[2], &bytes[3], &kind,
                                     &addressClass),
              c.Valid);
    EXPECT_EQ(kind, c.Kind);
    EXPECT_EQ(addressClass, c.Class);
    if (c.Valid) {
      EXPECT_EQ(bytes, c.Bytes);
    } else {
      EXPECT_EQ(bytes, (TIdIPv4Bytes{11, 22, 33, 44})) << "a failed parse wrote bytes";
    }
    EXPECT_EQ(stack.IsAddressText(c.Text), c.Valid);
    EXPECT_EQ(stack.AddressTextKind(c.Text), c.Kind);
    EXPECT_TRUE(stack.AddressTextIsKind(c.Text, c.Kind));
  }
}

TEST(StackAddressTest, EachOutputIsOptional) {
  TScriptedStack stack;
  std::uint8_t third = 0;
  TAddressClass addressClass = acNone;
  EXPECT_TRUE(stack.ParseAddressText("172.16.9.1", nullptr, nullptr, &third, nullptr, nullptr,
                                     &addressClass));
  EXPECT_EQ(third, 9);
  EXPECT_EQ(addressClass, acB);
  EXPECT_TRUE(stack.ParseAddressText("172.16.9.1"));
  EXPECT_FALSE(stack.ParseAddressText("172.16.9.1.0"));
}

TEST(StackAddressTest, AddressBytesBecomeDottedDecimalText) {
  TScriptedStack stack;
  EXPECT_EQ(stack.AddrToText({10, 0, 0, 1}), "10.0.0.1");
  EXPECT_EQ(stack.AddrToText({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(stack.AddrToText({255, 255, 255, 255}), "255.255.255.255");
  EXPECT_EQ(stack.AddrToText({192, 168, 100, 9}), "192.168.100.9");
}

TEST(StackAddressTest, TextToAddrKeepsTheBytesInTextOrder) {
  TScriptedStack stack;
  const auto memoryBytes = [](std::uint32_t address) {
    TIdIPv4Bytes bytes{};
    std::memcpy(bytes.data(), &address, sizeof address);
    return bytes;
  };
  EXPECT_EQ(memoryBytes(stack.TextToAddr("10")), (TIdIPv4Bytes{0, 0, 0, 10}));
  EXPECT_EQ(memoryBytes(stack.TextToAddr("192.168.1.2")), (TIdIPv4Bytes{192, 168, 1, 2}));
  EXPECT_EQ(memoryBytes(stack.TextToAddr("1.2.3")), (TIdIPv4Bytes{1, 2, 0, 3}));

  TIdIPv4Bytes target{9, 9, 9, 9};
  stack.TextToAddrInto("127.0.0.1", target);
  EXPECT_EQ(target, (TIdIPv4Bytes{127, 0, 0, 1}));
}

TEST(StackAddressTest, TextThatIsNoAddressRaisesNamingTheText) {
  TScriptedStack stack;
  for (const char* text : {"256.1.1.1", "", "1.2.3.4.5", "host.example"}) {
    try {
      stack.TextToAddr(text);
      ADD_FAILURE() << "no exception for \"" << text << "\"";
    } catch (const EIdInvalidIPAddress& e) {
      EXPECT_EQ(e.Message(), std::string(text) + " is not a valid IP address.");
    }
  }
  TIdIPv4Bytes target{9, 9, 9, 9};
  EXPECT_THROW(stack.TextToAddrInto("300.0.0.1", target), EIdInvalidIPAddress);
  EXPECT_EQ(target, (TIdIPv4Bytes{9, 9, 9, 9}));
}

TEST(StackAddressTest, HostToAddressTextLooksUpOnlyWhatIsNoAddress) {
  TScriptedStack stack;
  EXPECT_EQ(stack.HostToAddressText("localhost"), "127.0.0.1");
  EXPECT_EQ(stack.HostToAddressText("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack.HostToAddressText("LOCALHOST"), "127.0.0.1");
  EXPECT_EQ(stack.HostToAddressText("10"), "10");  // not normalised
  EXPECT_EQ(stack.HostToAddressText("4294967295"), "4294967295");
  EXPECT_EQ(stack.HostToAddressText("10.1.2.3"), "10.1.2.3");
  EXPECT_TRUE(stack.Lookups.empty());

  EXPECT_EQ(stack.HostToAddressText("router.lab"), "192.0.2.7");
  EXPECT_EQ(stack.HostToAddressText("localhost.localdomain"), "192.0.2.7");
  EXPECT_EQ(stack.HostToAddressText("256.1.1.1"), "192.0.2.7");
  EXPECT_EQ(stack.Lookups,
            (std::vector<std::string>{"router.lab", "localhost.localdomain", "256.1.1.1"}));
}

// IPv6 text as typed, and the text kept above the socket layer (nullptr: no address).
struct TIPv6Case {
  const char* Text;
  const char* Canonical;
};

// clang-format off
constexpr TIPv6Case kIPv6Cases[] = {
    {"::", "::"},
    {"::1", "::1"},
    {"2001:DB8::1", "2001:db8::1"},
    {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
    {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},         // leftmost of equal runs
    {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},               // the longest run
    {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},      // one zero group stays
    {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
    {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"},
    {"fe80::1%eth0", "fe80::1%eth0"},
    {"FE80::A%2", "fe80::a%2"},
    {"::ffff:198.18.0.1", "198.18.0.1"},                    // mapped: IPv4 again
    {"0:0:0:0:0:FFFF:C612:0001", "198.18.0.1"},
    {"::198.18.0.1", "::c612:1"},                           // compatible, not mapped
    {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"},
    {"2001:2::", "2001:2::"},
    {"", nullptr},
    {":", nullptr},
    {":::", nullptr},
    {"1::2::3", nullptr},
    {"1:2:3:4:5:6:7:8:9", nullptr},
    {"1:2:3:4:5:6:7", nullptr},
    {"1:2:3:4:5:6:7:8::", nullptr},                         // "::" stands for a group at least
    {":1::2", nullptr},
    {"1::2:", nullptr},
    {"12345::1", nullptr},
    {"g::1", nullptr},
    {"::ffff:198.18.0.01", nullptr},
    {"::ffff:198.18.0", nullptr},
    {"::ffff:256.1.1.1", nullptr},
    {"::198.18.0.1:1", nullptr},
    {"fe80::1%", nullptr},
    {"fe80::1%eth 0", nullptr},
    {"fe80::1%a%b", nullptr},
    {"fe80::1%abcdefghijklmnop", nullptr},                  // longer than an interface name
    {"fe80::1%abcdefghijklmno", "fe80::1%abcdefghijklmno"}, // as long as one
    {"fe80::1%v+1", "fe80::1%v+1"},                         // any name the system may have
    {"fe80::1%w@2", "fe80::1%w@2"},
    {"fe80::1%eth\t0", nullptr},
    {"fe80::1%eth\x7f", nullptr},
    {"::ffff:198.18.0.1%eth0", nullptr},
    {" ::1", nullptr},
};
// clang-format on

TEST(StackAddressTest, IPv6TextBecomesCanonicalOrIsRefused) {
  for (const TIPv6Case& c : kIPv6Cases) {
    const std::optional<std::string> canonical = CanonicalIPv6Text(c.Text);
    if (c.Canonical == nullptr) {
      EXPECT_FALSE(canonical.has_value()) << c.Text << " gave " << canonical.value_or("");
      continue;
    }
    ASSERT_TRUE(canonical.has_value()) << c.Text;
    EXPECT_EQ(*canonical, c.Canonical) << c.Text;
    // The canonical IPv6 text reads back as itself.
    if (IsIPv6Text(*canonical)) {
      EXPECT_EQ(CanonicalIPv6Text(*canonical).value_or("?"), *canonical) << c.Text;
    }
  }
  TIdIPv6Address address;
  ASSERT_TRUE(ParseIPv6Text("fe80::1:2%eth0", address));
  EXPECT_EQ(address.Zone, "eth0");
  EXPECT_TRUE(IsLinkLocal(address.Bytes));
  EXPECT_EQ(address.Bytes[13], 1);
  EXPECT_EQ(address.Bytes[15], 2);
  EXPECT_FALSE(ParseIPv6Text("1::2::3", address));
  EXPECT_EQ(address.Zone, "eth0") << "a refused text leaves the address as it was";
}

TEST(StackAddressTest, ALiteralDecidesItsFamilyAndANameIsLookedUp) {
  TScriptedStack stack;
  for (const TIdIPVersion version :
       {TIdIPVersion::ivAny, TIdIPVersion::ivIPv4, TIdIPVersion::ivIPv6}) {
    EXPECT_EQ(stack.ResolveHost("2001:0002::0001", version), "2001:2::1");
    EXPECT_EQ(stack.ResolveHost("::ffff:198.18.0.1", version), "198.18.0.1");
  }
  EXPECT_TRUE(stack.Lookups.empty()) << "an IPv6 literal needs no lookup";
  EXPECT_EQ(stack.ResolveHost("198.18.0.1", TIdIPVersion::ivIPv6), "192.0.2.7");
  EXPECT_EQ(stack.ResolveHost("router.lab", TIdIPVersion::ivAny), "192.0.2.7");
  EXPECT_EQ(stack.Lookups, (std::vector<std::string>{"198.18.0.1", "router.lab"}));
  // A stack that knows IPv4 names only finds no IPv6 address for a name.
  try {
    stack.ResolveHost("router.lab", TIdIPVersion::ivIPv6);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, Id_WSAHOST_NOT_FOUND);
  }
  EXPECT_EQ(stack.ResolveHost("LocalHost", TIdIPVersion::ivIPv6), "::1");
  EXPECT_THROW(stack.ResolveHost("1::2::3", TIdIPVersion::ivAny), EIdSocketError);
  EXPECT_EQ(stack.HostToAddressText("2001:2::1"), "2001:2::1");
  EXPECT_EQ(stack.Lookups.size(), 2U);
}

// What a trace can go to, and the message of each host it cannot.
TEST(StackAddressTest, HostsThatNoTraceCanGoToAreRefusedWithTheirReason) {
  const std::string zoneHere =
      ": a zone belongs to link-local and multicast addresses only (fe80::1%eth0).";
  const std::string zoneNeeded =
      ": a link-local address needs the zone of its link, as in fe80::1%eth0.";
  const std::string unspecified = ": the unspecified address stands for no host.";
  const struct {
    const char* Host;
    TIdIPVersion Version;
    std::string Result;  // the address, or the message after "Cannot trace " and the host
  } cases[] = {
      {"2001:db8::1%eth0", TIdIPVersion::ivAny, zoneHere},
      {"::1%eth0", TIdIPVersion::ivAny, zoneHere},
      {"::ffff:198.18.0.1%eth0", TIdIPVersion::ivAny, zoneHere},
      {"ff02::1%eth0", TIdIPVersion::ivAny, "ff02::1%eth0"},
      {"fe80::1%v+1", TIdIPVersion::ivAny, "fe80::1%v+1"},
      {"FE80::1%w@2", TIdIPVersion::ivIPv4, "fe80::1%w@2"},
      {"fe80::1%2", TIdIPVersion::ivAny, "fe80::1%2"},
      {"fe80::1%wlan9", TIdIPVersion::ivAny, ": there is no interface wlan9."},
      {"fe80::1", TIdIPVersion::ivAny, zoneNeeded},
      {"febf::1", TIdIPVersion::ivIPv6, zoneNeeded},
      {"fec0::1", TIdIPVersion::ivIPv6, "fec0::1"},
      {"::", TIdIPVersion::ivAny, unspecified},
      {"0::0", TIdIPVersion::ivIPv6, unspecified},
      {"::ffff:0.0.0.0", TIdIPVersion::ivAny, unspecified},
      {"0.0.0.0", TIdIPVersion::ivAny, unspecified},
      {"blocked.lab", TIdIPVersion::ivAny, unspecified},  // as a hosts file blocks a name
      {"localhost.", TIdIPVersion::ivAny, "127.0.0.1"},
      {"www.localhost", TIdIPVersion::ivIPv4, "127.0.0.1"},
      {"WWW.LocalHost.", TIdIPVersion::ivIPv6, "::1"},
      {"notlocalhost", TIdIPVersion::ivAny, "192.0.2.7"},
      {"localhost.lab", TIdIPVersion::ivAny, "192.0.2.7"},
  };
  TScriptedStack stack;
  stack.Answers = {{"0.0.0.0", "0.0.0.0"}, {"blocked.lab", "0.0.0.0"}};
  for (const auto& c : cases) {
    std::string result;
    try {
      result = stack.ResolveHost(c.Host, c.Version);
    } catch (const EIdInvalidTarget& e) {
      result = e.what();
    }
    const bool refused = c.Result.rfind(": ", 0) == 0;
    EXPECT_EQ(result, refused ? "Cannot trace " + std::string(c.Host) + c.Result : c.Result);
  }
  EXPECT_EQ(stack.Lookups,
            (std::vector<std::string>{"0.0.0.0", "blocked.lab", "notlocalhost", "localhost.lab"}))
      << "a name under localhost is never looked up";
}

TEST(StackErrorTextTest, TextsOfTheTable) {
  TScriptedStack stack;
  EXPECT_EQ(stack.SocketErrorText(10060), "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_EQ(stack.SocketErrorText(11001), "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(stack.SocketErrorText(10035), "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(stack.SocketErrorText(10066), "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_EQ(stack.SocketErrorText(10004), "Socket Error # 10004\r\nInterrupted system call.");
  EXPECT_EQ(stack.SocketErrorText(10013), "Socket Error # 10013\r\nAccess denied.");
  EXPECT_EQ(stack.SocketErrorText(10047),
            "Socket Error # 10047\r\nAddress family not supported by protocol family.");
  EXPECT_EQ(stack.SocketErrorText(10065), "Socket Error # 10065\r\nNo route to host.");
}

TEST(StackErrorTextTest, CodesOutsideTheTableEndWithTheLineBreak) {
  TScriptedStack stack;
  EXPECT_EQ(stack.SocketErrorText(11004), "Socket Error # 11004\r\n");
  EXPECT_EQ(stack.SocketErrorText(11002), "Socket Error # 11002\r\n");
  EXPECT_EQ(stack.SocketErrorText(10093), "Socket Error # 10093\r\n");
  EXPECT_EQ(stack.SocketErrorText(0), "Socket Error # 0\r\n");
  EXPECT_EQ(stack.SocketErrorText(12345), "Socket Error # 12345\r\n");
  EXPECT_EQ(stack.SocketErrorText(-1), "Socket Error # -1\r\n");
}

TEST(StackCheckTest, ResultsOtherThanMinusOneFetchNoErrorCode) {
  TScriptedStack stack;
  stack.NextError = 10060;
  stack.CheckSocketCall(0);
  stack.CheckSocketCall(5);
  stack.CheckSocketCall(-2);
  EXPECT_EQ(stack.ErrorFetches, 0);
  EXPECT_EQ(stack.LastErrorCode.load(), 0);
}

TEST(StackCheckTest, MinusOneRaisesWithTheThreadsErrorCode) {
  TScriptedStack stack;
  stack.NextError = 10060;
  try {
    stack.CheckSocketCall(-1);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, 10060);
    EXPECT_EQ(e.Message(), "Socket Error # 10060\r\nConnection timed out.");
  }
  EXPECT_EQ(stack.ErrorFetches, 1);
  EXPECT_EQ(stack.LastErrorCode.load(), 10060);

  try {
    stack.RaiseSocketFailure(11001);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode, 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_EQ(stack.ErrorFetches, 1);
}

TEST(StackOpenTest, OpensAnIPv4SocketOrRaisesWithoutFetchingAnError) {
  TScriptedStack stack;
  stack.OpenResult = 7;
  EXPECT_EQ(stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP), 7);
  ASSERT_EQ(stack.OpenCalls.size(), 1u);
  EXPECT_EQ(stack.OpenCalls[0].Family, Id_PF_INET4);
  EXPECT_EQ(stack.OpenCalls[0].Type, Id_SOCK_RAW);
  EXPECT_EQ(stack.OpenCalls[0].Protocol, Id_IPPROTO_ICMP);

  stack.OpenResult = Id_INVALID_SOCKET;
  try {
    stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMP);
    FAIL() << "no exception";
  } catch (const EIdInvalidSocket& e) {
    EXPECT_EQ(e.Message(), "Cannot allocate socket.");
  }
  EXPECT_EQ(stack.ErrorFetches, 0);

  stack.OpenResult = 8;
  EXPECT_EQ(stack.OpenSocket(Id_SOCK_RAW, Id_IPPROTO_ICMPV6, TIdIPVersion::ivIPv6), 8);
  EXPECT_EQ(stack.OpenCalls.back().Family, Id_PF_INET6);
}

}  // namespace
}  // namespace quillon
