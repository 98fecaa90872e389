#include "writers/h264/avc_config.h"

#include "xtd/byte_order.h"

bool appendAvcDecoderConfiguration(xtd::dstring& out, xtd::strview sps, xtd::strview pps) {
  if (sps.length > kMaxAvcParameterSetSize || pps.length > kMaxAvcParameterSetSize) return false;
  char* head = out.extend(6);
  head[0] = 1;  // configuration version
  // Profile, compatibility and level follow the SPS's NAL header byte.
  for (std::uint32_t i = 1; i <= 3; ++i) head[i] = i < sps.length ? sps[i] : '\0';
  head[4] = static_cast<char>(0xFF);  // 4-byte NAL lengths
  head[5] = static_cast<char>(0xE1);  // one SPS
  xtd::store_be16(out.extend(2), static_cast<std::uint16_t>(sps.length));
  if (sps.length != 0) out.append(sps);
  out.push_back(1);  // one PPS
  xtd::store_be16(out.extend(2), static_cast<std::uint16_t>(pps.length));
  if (pps.length != 0) out.append(pps);
  return true;
}
