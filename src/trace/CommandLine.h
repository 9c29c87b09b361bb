// The command line: `-h` hops, `-w` time-out in milliseconds, `--in-flight`
// probes under way at once, `--as` for AS lookups, and a host word; `-4` and
// `-6` pick the family.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/IdIPAddress.h"
#include "net/ProbeMethod.h"
#include "trace/ProbeRules.h"

namespace quillon {

constexpr std::int32_t DefaultCommandHops = 30;
constexpr std::int32_t DefaultCommandTimeOut = 5000;
// The parser holds words 0..100; words after the 101st are ignored.
constexpr int MaxCommandWords = 101;

// Takes every "-4" and "-6" out of the parameters, before any host word is
// read, so that neither is ever taken for a host; the last one wins, ivAny
// without either.
TIdIPVersion TakeIPVersionOptions(std::vector<std::string>& parameters);

// One space before each parameter, so a parameter with blanks yields several words.
std::string BuildCommandText(const std::vector<std::string>& parameters);

// What the command line asks for. The hop count and time-out go into the
// window's boxes, where Start checks them; the probes in flight have no box,
// so the reader checks them itself and says what it refused.
struct TCommandSettings {
  std::string Host;
  std::int32_t Hops = DefaultCommandHops;
  std::int32_t TimeOut = DefaultCommandTimeOut;
  TProbesInFlight InFlight;
  TProbeMethod ProbeMethod = TProbeMethod::pmIcmp;  // --udp, --tcp
  std::int32_t ProbePort = 0;  // --port N (1 to 65535); 0: the method's default
  bool AsLookups = false;      // --as: ask the public IP-to-AS zone about every hop
  std::string Refused;         // the message for a value no run may use; empty when none
};

// Reads the command text. The hop count and time-out are always set (30 and 5000
// unless an option gives another value, unchecked here); the host is set whenever
// the text is not blank. True when a host word was found.
bool ParseCommandLine(const std::string& text, TCommandSettings& settings);

}  // namespace quillon
