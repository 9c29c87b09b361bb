#include "trace/TimeBar.h"

#include <cmath>

#include "platform/Text.h"

namespace quillon {

std::int32_t TimeCellValue(const std::string& text) {
  return TryStrToInt(text).value_or(0);
}

int TimeBarLength(std::int32_t time, int width, std::int32_t timeCount, std::int32_t timeMax) {
  if (timeCount <= 0 || timeMax <= 0) return -1;
  const double scale = static_cast<double>(width) / static_cast<double>(timeMax);
  const double length = static_cast<double>(time == 0 ? 1 : time) * scale;
  // rint rounds halves to the even neighbour in the default rounding mode.
  return static_cast<int>(std::rint(length));
}

}  // namespace quillon
