// The TXT records of a DNS message, read from its bytes: what res_nquery
// hands back, read as hostile data.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/IdTextQuery.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Header(std::uint8_t questions, std::uint8_t answers) {
  return {0x12, 0x34, 0x81, 0x80, 0, questions, 0, answers, 0, 0, 0, 0};
}
// "as.test" with its type and class.
const Bytes Question = {2, 'a', 's', 4, 't', 'e', 's', 't', 0, 0, 16, 0, 1};
// A record named by a pointer to the question's name (type and class below
// 256), with its data (shorter than 256 bytes).
Bytes Record(std::uint8_t type, const Bytes& data, std::uint8_t klass = 1) {
  const auto size = static_cast<std::uint8_t>(data.size());
  return Bytes{0xC0, 12, 0, type, 0, klass, 0, 0, 0x0E, 0x10, 0, size} + data;
}
Bytes Strings(const std::vector<std::string>& strings) {
  Bytes data;
  for (const std::string& text : strings) {
    data.push_back(static_cast<std::uint8_t>(text.size()));
    data.insert(data.end(), text.begin(), text.end());
  }
  return data;
}

// The records as "[a+b][c]" (strings joined by '+'), "-" when refused.
std::string Reading(const Bytes& message) {
  const auto answer = DecodeTxtMessage(message.data(), message.size());
  if (!answer) return "-";
  std::string text;
  for (const auto& record : answer->Records) {
    text += '[';
    for (std::size_t i = 0; i < record.size(); ++i) text += (i ? "+" : "") + record[i];
    text += ']';
  }
  return text;
}

TEST(TxtMessage, ReadsTheAnswersTxtRecordsOrRefusesTheMessage) {
  const Bytes cname = Record(5, {3, 'x', 'y', 'z', 0xC0, 12});
  const Bytes txt = Record(16, Strings({"64501 | 198.18.1.0/24 ", "| ZZ | lab | 2026-12-01"}));
  const std::string read = "[64501 | 198.18.1.0/24 +| ZZ | lab | 2026-12-01]";
  const Bytes one = Header(1, 1) + Question + txt;
  Bytes many = Header(1, 20) + Question;  // several records, more than are kept
  for (int i = 0; i < 20; ++i) many = many + Record(16, Strings({std::to_string(i)}));
  const std::vector<std::pair<Bytes, std::string>> cases = {
      {one, read},
      {Header(1, 2) + Question + cname + txt, read},
      {Header(1, 1) + Question + Record(16, Strings({""})), "[]"},        // one empty string
      {Header(1, 1) + Question + Record(16, Strings({"chaos"}), 3), ""},  // not class IN
      {Header(1, 0) + Question, ""},                                      // no record
      {many, "[0][1][2][3][4][5][6][7][8][9][10][11][12][13][14][15]"},   // at most 16 kept
      {Bytes{0x12, 0x34, 0x81}, "-"},                                     // a cut header
      {Header(1, 1) + Question, "-"},                                     // an answer missing
      {Header(1, 1) + Bytes(Question.begin(), Question.end() - 2), "-"},  // a cut question
      {Header(1, 1) + Question + Bytes{0xC0}, "-"},                       // a cut pointer
      {Header(1, 1) + Question + Record(16, {5, 'a', 'b'}), "-"},         // a string past its data
      {Bytes(one.begin(), one.end() - 3), "-"},                           // data past the end
      {Header(1, 0) + Bytes{0x40, 'a', 0, 0, 16, 0, 1}, "-"},             // an extended label
      {Header(1, 0) + Bytes(200, 1), "-"},                                // labels without end
  };
  for (const auto& [message, expected] : cases) EXPECT_EQ(Reading(message), expected) << expected;
  EXPECT_EQ(DecodeTxtMessage(nullptr, 0), std::nullopt);
}

}  // namespace
}  // namespace quillon
