#include "commit/temporary_name.h"

#include <chrono>
#include <random>

#include "platform/paths.h"
#include "platform/program.h"

namespace {

// The longest run part: ten digits of a process id, a dash, eight hex digits.
constexpr std::uint32_t kMaxTagLength = 19;
constexpr std::uint32_t kSuffixLength = sizeof kTemporarySuffix / sizeof kTemporarySuffix[0] - 1;
// What the final name may take of the temporary one.
constexpr std::uint32_t kStemBudget = platform::kMaxNameLength - 1 - kMaxTagLength - kSuffixLength;
constexpr char16_t kHex[] = u"0123456789abcdef";

std::uint32_t nameStart(xtd::wstrview path) {
  std::uint32_t start = path.length;
  while (start > 0 && path[start - 1] != platform::kPathSeparator) --start;
  return start;
}

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u < 0xDC00; }

// How much of the file system's limit the unit at `i` takes: a surrogate
// pair is four bytes of UTF-8, two for each half, and a low surrogate that
// ends no pair stands for one byte of a name that is not UTF-8.
std::uint32_t unitCost(xtd::wstrview name, std::uint32_t i) {
  const char16_t u = name[i];
  if (!platform::kNamesCountedInUtf8) return 1;
  if (u < 0x80) return 1;
  if (u < 0x800) return 2;
  if (isHighSurrogate(u)) return 2;
  if (u >= 0xDC00 && u < 0xE000) return i > 0 && isHighSurrogate(name[i - 1]) ? 2 : 1;
  return 3;
}

std::uint32_t nameLength(xtd::wstrview name) {
  std::uint32_t n = 0;
  for (std::uint32_t i = 0; i < name.length; ++i) n += unitCost(name, i);
  return n;
}

void appendHex(xtd::dwstring& out, std::uint32_t value) {
  for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

// The part of the final name the temporary name begins with.
void appendStem(xtd::dwstring& out, xtd::wstrview name) {
  if (nameLength(name) <= kStemBudget) {
    out.append(name);
    return;
  }
  // A digest of the whole name, after as much of it as fits.
  std::uint32_t digest = 2166136261u;
  for (std::uint32_t i = 0; i < name.length; ++i) digest = (digest ^ name[i]) * 16777619u;
  const std::uint32_t budget = kStemBudget - 9;
  std::uint32_t keep = 0, used = 0;
  while (keep < name.length && used + unitCost(name, keep) <= budget) used += unitCost(name, keep++);
  // A surrogate pair is not cut in two.
  if (keep > 0 && keep < name.length && isHighSurrogate(name[keep - 1])) --keep;
  out.append(xtd::wstrview(name.data, keep));
  out.push_back(u'~');
  appendHex(out, digest);
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isHex(char16_t c) { return isDigit(c) || (c >= u'a' && c <= u'f'); }

// Whether `part` has the form of a run tag: digits, a dash, eight hex digits.
bool isTag(xtd::wstrview part) {
  if (part.length < 10 || part.length > kMaxTagLength || part[part.length - 9] != u'-') return false;
  for (std::uint32_t i = 0; i + 9 < part.length; ++i) {
    if (!isDigit(part[i])) return false;
  }
  for (std::uint32_t i = part.length - 8; i < part.length; ++i) {
    if (!isHex(part[i])) return false;
  }
  return true;
}

bool endsWith(xtd::wstrview s, xtd::wstrview tail) {
  return s.length >= tail.length && xtd::equals(xtd::wstrview(s.data + s.length - tail.length, tail.length), tail);
}

xtd::dwstring makeRunTag() {
  std::uint32_t random = 0;
  try {
    std::random_device device;
    random = device();
  } catch (...) {
    // No source of randomness: the clock still tells two runs of one process id apart.
  }
  random ^= static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  xtd::dwstring tag;
  std::uint32_t pid = platform::processId();
  char16_t digits[10];
  int n = 0;
  do digits[n++] = static_cast<char16_t>(u'0' + pid % 10);
  while ((pid /= 10) != 0);
  while (n > 0) tag.push_back(digits[--n]);
  tag.push_back(u'-');
  appendHex(tag, random);
  return tag;
}

}  // namespace

xtd::wstrview runTag() {
  static const xtd::dwstring tag = makeRunTag();
  return tag.view();
}

xtd::dwstring temporaryPathFor(xtd::wstrview finalPath, xtd::wstrview tag) {
  const std::uint32_t start = nameStart(finalPath);
  xtd::dwstring out;
  out.reserve(finalPath.length + 1 + tag.length + kSuffixLength + 1);
  out.assign(xtd::wstrview(finalPath.data, start));
  appendStem(out, xtd::wstrview(finalPath.data + start, finalPath.length - start));
  out.push_back(u'.');
  out.append(tag);
  out.append(xtd::wstrview::literal(kTemporarySuffix));
  return out;
}

bool isTemporaryName(xtd::wstrview name) { return endsWith(name, xtd::wstrview::literal(kTemporarySuffix)); }

bool isTemporaryOf(xtd::wstrview path, xtd::wstrview finalPath) {
  const std::uint32_t start = nameStart(path);
  const xtd::wstrview name(path.data + start, path.length - start);
  if (!isTemporaryName(name)) return false;
  xtd::dwstring stem;
  const std::uint32_t finalStart = nameStart(finalPath);
  appendStem(stem, xtd::wstrview(finalPath.data + finalStart, finalPath.length - finalStart));
  const xtd::wstrview rest(name.data, name.length - kSuffixLength);
  // An earlier version's leftover: the final name and the suffix alone.
  if (xtd::equals(rest, stem.view())) return true;
  const std::uint32_t n = stem.length();
  if (rest.length <= n + 1 || !xtd::equals(xtd::wstrview(rest.data, n), stem.view()) || rest[n] != u'.') return false;
  return isTag(xtd::wstrview(rest.data + n + 1, rest.length - n - 1));
}
