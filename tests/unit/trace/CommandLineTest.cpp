#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "trace/CommandLine.h"

namespace quillon {
namespace {

struct Parsed {
  bool found = false;
  std::string host = "<unset>";
  std::int32_t hops = -1;
  std::int32_t timeOut = -1;
  int inFlight = -1;
  TProbeMethod method = TProbeMethod::pmIcmp;
  std::int32_t port = -1;
  bool as = false;
  std::string refused;
};

Parsed Parse(const std::vector<std::string>& parameters) {
  TCommandSettings settings;
  settings.Host = "<unset>";
  Parsed p;
  p.found = ParseCommandLine(BuildCommandText(parameters), settings);
  p.host = settings.Host;
  p.hops = settings.Hops;
  p.timeOut = settings.TimeOut;
  p.inFlight = settings.InFlight.Count();
  p.method = settings.ProbeMethod;
  p.port = settings.ProbePort;
  p.as = settings.AsLookups;
  p.refused = settings.Refused;
  return p;
}

std::vector<std::string> WithEmptyBetween(int empties) {
  std::vector<std::string> parameters{"-h"};
  parameters.insert(parameters.end(), static_cast<std::size_t>(empties), "");
  parameters.push_back("15");
  parameters.push_back("z");
  return parameters;
}

TEST(CommandText, OneSpaceBeforeEveryParameter) {
  EXPECT_EQ(BuildCommandText({}), "");
  EXPECT_EQ(BuildCommandText({"a"}), " a");
  EXPECT_EQ(BuildCommandText({"a", "b c", ""}), " a b c ");
}

TEST(CommandLine, OptionsAndHost) {
  Parsed p = Parse({"-h", "15", "-w", "2000", "192.0.2.1"});
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.host, "192.0.2.1");
  EXPECT_EQ(p.hops, 15);
  EXPECT_EQ(p.timeOut, 2000);

  p = Parse({"ABC.DEF", "-H", "7"});  // lower-cased, options too
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.host, "abc.def");
  EXPECT_EQ(p.hops, 7);
  EXPECT_EQ(p.timeOut, 5000);

  p = Parse({"-W", "$10", "-h", "0x1F", "h"});  // hexadecimal values
  EXPECT_EQ(p.timeOut, 16);
  EXPECT_EQ(p.hops, 31);

  p = Parse({"-h", "500", "-w", "0", "h"});  // no range test here
  EXPECT_EQ(p.hops, 500);
  EXPECT_EQ(p.timeOut, 0);
}

TEST(CommandLine, TheFamilyOptionsAreTakenOutBeforeTheHostIsRead) {
  std::vector<std::string> parameters{"-6", "a"};
  EXPECT_EQ(TakeIPVersionOptions(parameters), TIdIPVersion::ivIPv6);
  EXPECT_EQ(Parse(parameters).host, "a") << "-6 would be the longer word";
  parameters = {"-6", "-h", "5", "-4", "2001:2::1"};
  EXPECT_EQ(TakeIPVersionOptions(parameters), TIdIPVersion::ivIPv4) << "the last one counts";
  EXPECT_EQ(parameters, (std::vector<std::string>{"-h", "5", "2001:2::1"}));
  const Parsed p = Parse(parameters);
  EXPECT_EQ(p.host, "2001:2::1");
  EXPECT_EQ(p.hops, 5);
  parameters = {"-64", "-6 x", "host"};  // only the whole words
  EXPECT_EQ(TakeIPVersionOptions(parameters), TIdIPVersion::ivAny);
  EXPECT_EQ(parameters.size(), 3U);
  parameters = {"-6"};
  EXPECT_EQ(TakeIPVersionOptions(parameters), TIdIPVersion::ivIPv6);
  EXPECT_FALSE(Parse(parameters).found);
}

TEST(CommandLine, UnusableValueGivesTheDefaultAndStaysACandidate) {
  Parsed p = Parse({"-h", "x", "target"});
  EXPECT_EQ(p.hops, 30);
  EXPECT_EQ(p.host, "target");

  p = Parse({"-h", "99999999999", "t"});  // does not fit 32 bits
  EXPECT_EQ(p.hops, 30);
  EXPECT_EQ(p.host, "99999999999");

  p = Parse({"-h", "5", "-h", "x", "a.b"});  // a later option's default overrides
  EXPECT_EQ(p.hops, 30);
  EXPECT_EQ(p.host, "a.b");

  p = Parse({"-w", "-h", "3", "a.b"});  // -h is no value; it is still read as an option
  EXPECT_EQ(p.timeOut, 5000);
  EXPECT_EQ(p.hops, 3);
  EXPECT_EQ(p.host, "a.b");

  p = Parse({"a.b", "-w"});  // option at the end takes the empty word after the last
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.timeOut, 5000);
  EXPECT_EQ(p.host, "a.b");
}

TEST(CommandLine, ProbesInFlightAreCheckedByTheReader) {
  // Parameters, the count a run gets (0: refused with a message), the host.
  const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
      {{"a.b"}, 5, "a.b"},
      {{"--in-flight", "16", "a.b"}, 16, "a.b"},
      {{"a.b", "--IN-FLIGHT=64"}, 64, "a.b"},
      {{"--in-flight", "1", "--in-flight", "0x20", "a"}, 32, "a"},  // the last counts
      {{"--in-flight", "0", "a.b"}, 0, "a.b"},
      {{"--in-flight", "65", "a.b"}, 0, "a.b"},
      {{"--in-flight", "many.hosts", "a"}, 0, "a"},  // never taken for the host
      {{"a.b", "--in-flight"}, 0, "a.b"},
      {{"--in-flight", "8"}, 8, ""},
  };
  for (const auto& [parameters, inFlight, host] : rows) {
    const Parsed p = Parse(parameters);
    EXPECT_EQ(p.refused.empty() ? p.inFlight : 0, inFlight) << BuildCommandText(parameters);
    EXPECT_EQ(p.host, host) << BuildCommandText(parameters);
  }
  EXPECT_EQ(Parse({"--in-flight", "99", "a"}).refused,
            "--in-flight takes a number of probes from 1 to 64, not \"99\"");
}

TEST(CommandLine, ProbeMethodPortAndAsLookupsAreCheckedByTheReader) {
  using enum TProbeMethod;
  const std::string range = "--port takes a port from 1 to 65535";
  const auto notAPort = [&](const std::string& text) { return range + ", not \"" + text + "\""; };
  const std::string both = "--udp and --tcp exclude each other: give one of them";
  // Parameters, the method, port and AS lookups a run gets, the refusal ("" when none), the host.
  using Row =
      std::tuple<std::vector<std::string>, TProbeMethod, int, bool, std::string, std::string>;
  const Row rows[] = {
      {{"--AS", "a"}, pmIcmp, 0, true, "", "a"},  // lower-cased, and never the host
      {{"--asn", "a"}, pmIcmp, 0, false, "", "--asn"},
      {{"--udp", "--port=0x35", "a"}, pmUdp, 53, false, "", "a"},
      {{"--tcp", "--port", "1", "a"}, pmTcp, 1, false, "", "a"},
      {{"--tcp", "--port", "65535", "a"}, pmTcp, 65535, false, "", "a"},
      {{"--udp", "--udp", "a"}, pmUdp, 0, false, "", "a"},
      {{"--tcp", "--port", "0", "a"}, pmTcp, 0, false, notAPort("0"), "a"},
      {{"--tcp", "--port", "65536", "a"}, pmTcp, 0, false, notAPort("65536"), "a"},
      // A port that is no number is never taken for the host.
      {{"--tcp", "--port", "http.example", "a"}, pmTcp, 0, false, notAPort("http.example"), "a"},
      {{"--udp", "a", "--port"}, pmUdp, 0, false, range, "a"},
      {{"--port", "80", "a"}, pmIcmp, 80, false, "--port applies to --udp and --tcp only", "a"},
      {{"--udp", "--tcp", "a"}, pmTcp, 0, false, both, "a"},
  };
  for (const auto& [parameters, method, port, as, refused, host] : rows) {
    const Parsed p = Parse(parameters);
    EXPECT_EQ(std::tuple(p.method, p.port, p.as, p.refused, p.host),
              std::tuple(method, port, as, refused, host))
        << BuildCommandText(parameters);
  }
}

TEST(CommandLine, HostChoiceByLengthAndDot) {
  EXPECT_EQ(Parse({"abcdefgh", "a.b"}).host, "a.b");
  EXPECT_EQ(Parse({"a.b", "abcdefgh"}).host, "abcdefgh");
  EXPECT_EQ(Parse({"a", "b"}).host, "a");
  EXPECT_EQ(Parse({"a.b", "c.d"}).host, "a.b");
  EXPECT_EQ(Parse({"x.y", "x.y", "ab"}).host, "x.y");
}

TEST(CommandLine, NoHostMeansNoRun) {
  Parsed p = Parse({"-h", "15"});
  EXPECT_FALSE(p.found);
  EXPECT_EQ(p.host, "");
  EXPECT_EQ(p.hops, 15);

  for (const std::string blank : {"", "   ", " \t\r\n "}) {
    TCommandSettings settings;
    settings.Host = "kept";
    settings.Hops = -1;
    EXPECT_FALSE(ParseCommandLine(blank, settings));
    EXPECT_EQ(settings.Host, "kept");  // a blank text does not touch the host
    EXPECT_EQ(settings.Hops, 30);
    EXPECT_EQ(settings.TimeOut, 5000);
  }
}

TEST(CommandLine, EmptyParametersAreClosedUpToSevenInARow) {
  for (int empties = 0; empties <= 7; ++empties) {
    const Parsed p = Parse(WithEmptyBetween(empties));
    EXPECT_EQ(p.hops, 15) << empties;
    EXPECT_EQ(p.host, "z") << empties;
  }
  for (int empties = 8; empties <= 9; ++empties) {
    const Parsed p = Parse(WithEmptyBetween(empties));
    EXPECT_EQ(p.hops, 30) << empties;
    EXPECT_EQ(p.host, "15") << empties;  // the value became a candidate and is longer
  }
}

TEST(CommandLine, BlanksInsideAParameterSplitIt) {
  const Parsed p = Parse({"-h 9", "\tfar.example\t"});
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.hops, 9);
  EXPECT_EQ(p.host, "far.example");  // tabs at a word's ends are trimmed
}

TEST(CommandLine, OnlyLettersAToZAreLowerCased) {
  EXPECT_EQ(Parse({"HoSt\xC4.Z"}).host, "host\xC4.z");
}

TEST(CommandLine, WordsBeyondTheHundredAndFirstAreIgnored) {
  std::vector<std::string> parameters(101, "w");
  parameters.push_back("much.longer.example");
  parameters.push_back("-h");
  parameters.push_back("9");
  Parsed p = Parse(parameters);
  EXPECT_TRUE(p.found);
  EXPECT_EQ(p.host, "w");
  EXPECT_EQ(p.hops, 30);

  // An option in the last held word takes the empty word after it, not the
  // ignored one that follows on the command line.
  parameters.assign(100, "w");
  parameters.push_back("-h");
  parameters.push_back("12");
  p = Parse(parameters);
  EXPECT_EQ(p.hops, 30);
  EXPECT_EQ(p.host, "w");

  parameters.assign(99, "w");
  parameters.push_back("-h");
  parameters.push_back("12");
  p = Parse(parameters);
  EXPECT_EQ(p.hops, 12);
}

}  // namespace
}  // namespace quillon
