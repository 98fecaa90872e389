#include "writers/h264/rbsp.h"

RbspCopy unescapeRbsp(std::size_t length, const std::uint8_t* input, std::uint8_t* output) {
  if (length < 2) return {1, 0};
  std::size_t out = 0;
  std::size_t i = 1;
  while (i < length) {
    if (i + 2 < length && input[i] == 0 && input[i + 1] == 0) {
      if (input[i + 2] == 3) {
        output[out++] = 0;
        output[out++] = 0;
        i += 3;
        continue;
      }
      if (input[i + 2] == 1) break;
    }
    output[out++] = input[i++];
  }
  return {i, out};
}
