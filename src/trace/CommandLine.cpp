#include "trace/CommandLine.h"

#include <array>
#include <string_view>

#include "platform/Text.h"

namespace quillon {
namespace {

// Words 0..100 plus the always-empty word after the last, which an option at the
// end of the list takes as its (missing) value.
using TWordList = std::array<std::string, MaxCommandWords + 1>;

// Splits at every space; consecutive spaces give empty words. Returns the number
// of the last word in use.
int SplitWords(const std::string& text, TWordList& words) {
  int last = 0;
  for (const char c : text) {
    if (c == ' ') {
      if (last == MaxCommandWords - 1) break;  // the rest of the text is not held
      ++last;
    } else {
      words[static_cast<std::size_t>(last)] += c;
    }
  }
  return last;
}

// One pass: every empty word is closed by moving the words after it one place down;
// the word that moves into its place is not looked at again in this pass.
void CloseGaps(TWordList& words, int last) {
  for (int i = 0; i <= last; ++i) {
    if (!words[static_cast<std::size_t>(i)].empty()) continue;
    for (int j = i; j <= last; ++j) {
      words[static_cast<std::size_t>(j)] = words[static_cast<std::size_t>(j) + 1];
    }
  }
}

// `-h` or `-w` at word i: the option and a usable value are consumed; a value that
// is no integer gives the default and stays a host candidate.
void TakeOption(TWordList& words, int i, std::int32_t& target, std::int32_t fallback) {
  auto& option = words[static_cast<std::size_t>(i)];
  auto& value = words[static_cast<std::size_t>(i) + 1];
  const auto number = TryStrToInt(value);
  option.clear();
  if (number) {
    target = *number;
    value.clear();
  } else {
    target = fallback;
  }
}

constexpr std::string_view InFlightOption = "--in-flight";
constexpr std::string_view PortOption = "--port";
constexpr std::string_view AsOption = "--as";

// Whether word i is the option, alone or as "OPTION=VALUE".
bool IsValuedOption(const std::string& word, std::string_view option) {
  return word == option || word.starts_with(std::string(option) + "=");
}

// The value of `OPTION N` or `OPTION=N` at word i, taken out with the option
// whatever it is: a value that is no number or out of range is refused, never
// taken for the host.
std::string TakeOptionValue(TWordList& words, int i, std::string_view name) {
  auto& option = words[static_cast<std::size_t>(i)];
  const bool joined = option.size() > name.size();
  auto& next = words[static_cast<std::size_t>(i) + 1];
  const std::string value = joined ? option.substr(name.size() + 1) : next;
  option.clear();
  if (!joined) next.clear();
  return value;
}

std::string NotValue(const std::string& value) {
  return value.empty() ? std::string() : ", not \"" + value + "\"";
}

void TakeInFlight(TWordList& words, int i, TCommandSettings& settings) {
  const std::string value = TakeOptionValue(words, i, InFlightOption);
  const auto number = TryStrToInt(value);
  if (const auto count = number ? TProbesInFlight::Of(*number) : std::nullopt) {
    settings.InFlight = *count;
  } else {
    settings.Refused = "--in-flight takes a number of probes from 1 to " +
                       std::to_string(TProbesInFlight::Max) + NotValue(value);
  }
}

void TakePort(TWordList& words, int i, TCommandSettings& settings) {
  const std::string value = TakeOptionValue(words, i, PortOption);
  const auto number = TryStrToInt(value);
  if (number && IsValidProbePort(*number)) {
    settings.ProbePort = *number;
  } else {
    settings.Refused = "--port takes a port from " + std::to_string(MinProbePort) + " to " +
                       std::to_string(MaxProbePort) + NotValue(value);
  }
}

// `--udp` or `--tcp` at word i.
void TakeMethod(TWordList& words, int i, TProbeMethod method, TCommandSettings& settings,
                bool& methodGiven) {
  if (methodGiven && settings.ProbeMethod != method) {
    settings.Refused = "--udp and --tcp exclude each other: give one of them";
  }
  settings.ProbeMethod = method;
  methodGiven = true;
  words[static_cast<std::size_t>(i)].clear();
}

}  // namespace

TIdIPVersion TakeIPVersionOptions(std::vector<std::string>& parameters) {
  TIdIPVersion version = TIdIPVersion::ivAny;
  std::erase_if(parameters, [&version](const std::string& parameter) {
    if (parameter == "-4") version = TIdIPVersion::ivIPv4;
    if (parameter == "-6") version = TIdIPVersion::ivIPv6;
    return parameter == "-4" || parameter == "-6";
  });
  return version;
}

std::string BuildCommandText(const std::vector<std::string>& parameters) {
  std::string text;
  for (const auto& parameter : parameters) {
    text += ' ';
    text += parameter;
  }
  return text;
}

bool ParseCommandLine(const std::string& text, TCommandSettings& settings) {
  try {
    const std::string command = Trim(LowerCase(text));
    settings.Hops = DefaultCommandHops;
    settings.TimeOut = DefaultCommandTimeOut;
    if (command.empty()) return false;

    TWordList words;
    const int last = SplitWords(command, words);
    for (int i = 0; i <= last; ++i) {
      words[static_cast<std::size_t>(i)] = Trim(words[static_cast<std::size_t>(i)]);
    }
    // Three passes close runs of up to seven empty words (from empty parameters).
    for (int pass = 0; pass < 3; ++pass) CloseGaps(words, last);
    bool methodGiven = false;

    for (int i = 0; i <= last; ++i) {
      const auto& word = words[static_cast<std::size_t>(i)];
      if (word.empty()) continue;
      if (word == "-h") TakeOption(words, i, settings.Hops, DefaultCommandHops);
      if (word == "-w") TakeOption(words, i, settings.TimeOut, DefaultCommandTimeOut);
      if (IsValuedOption(word, InFlightOption)) TakeInFlight(words, i, settings);
      if (IsValuedOption(word, PortOption)) TakePort(words, i, settings);
      if (word == "--udp") TakeMethod(words, i, TProbeMethod::pmUdp, settings, methodGiven);
      if (word == "--tcp") TakeMethod(words, i, TProbeMethod::pmTcp, settings, methodGiven);
      if (word == AsOption) {
        settings.AsLookups = true;
        words[static_cast<std::size_t>(i)].clear();
      }
    }
    if (settings.ProbePort != 0 && settings.ProbeMethod == TProbeMethod::pmIcmp) {
      settings.Refused = "--port applies to --udp and --tcp only";
    }

    std::string& host = settings.Host;
    host.clear();
    for (int i = 0; i <= last; ++i) {
      const auto& word = words[static_cast<std::size_t>(i)];
      if (word.empty() || word == host) continue;
      const bool longer = word.size() > host.size();
      const bool gainsDot =
          word.find('.') != std::string::npos && host.find('.') == std::string::npos;
      if (longer || gainsDot) host = word;
    }
    return !host.empty();
  } catch (...) {
    return false;
  }
}

}  // namespace quillon
