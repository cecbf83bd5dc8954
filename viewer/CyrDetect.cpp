// DetectCodePage: which page a Russian text is written in, from the shares of its letters.
//
// Each candidate translates the text byte by byte into Windows-1251 letters and is
// scored by how far its letter shares lie from the expected ones; the lowest score
// wins. The scoring reproduces the stored results exactly: float shares, each term
// in extended precision, the running sum rounded to float after every addition, and
// one translation table that carries its entries over from candidate to candidate.

#include <array>
#include <cstdint>

#include "viewer/CyrCoder.h"
#include "viewer/CyrTables.h"
#include "viewer/CyrUtf8.h"

namespace vigilo {

namespace {

using Alphabet = std::array<std::uint8_t, 64>;

// The 32 letters А..Я (no Ё) as pairs capital, small.
constexpr Alphabet kWin = [] {
  Alphabet a{};
  for (int k = 0; k < 32; ++k) {
    a[2 * k] = static_cast<std::uint8_t>(0xC0 + k);
    a[2 * k + 1] = static_cast<std::uint8_t>(0xE0 + k);
  }
  return a;
}();

// The Windows-1251 byte of the character each byte of kWin stands for in another page.
constexpr Alphabet Reinterpreted(TCodePage page) {
  Alphabet a{};
  const auto& table =
      cyrtables::kPairTables[static_cast<int>(page)][static_cast<int>(TCodePage::CP1251)];
  for (int j = 0; j < 64; ++j)
    a[j] = table[kWin[j]];
  return a;
}

// The letters in CP866: capitals 80..9F, smalls A0..AF then E0..EF.
constexpr Alphabet kDos = [] {
  Alphabet a{};
  for (int k = 0; k < 32; ++k) {
    a[2 * k] = static_cast<std::uint8_t>(0x80 + k);
    a[2 * k + 1] = static_cast<std::uint8_t>(k < 16 ? 0xA0 + k : 0xE0 + (k - 16));
  }
  return a;
}();

// Candidate index -> alphabet: 0 "win", 1 "koi", 2 "iso", 3 "dos".
constexpr std::array<Alphabet, 4> kAlphabets = {kWin, Reinterpreted(TCodePage::KOI8R),
                                                Reinterpreted(TCodePage::ISO8859), kDos};

static_assert(kAlphabets[1][0] == 0xFE && kAlphabets[1][1] == 0xDE && kAlphabets[1][2] == 0xE0);
static_assert(kAlphabets[2][0] == 0xD0 && kAlphabets[2][1] == 0xF0 && kAlphabets[2][2] == 0xD1);

// Expected share of each Windows-1251 letter byte C0+k: capitals А..Я, then smalls а..я.
constexpr std::array<float, 64> kShares = {
    0.001f, 0,      0.002f, 0,      0.001f, 0.001f, 0,      0,       //
    0.001f, 0,      0.001f, 0,      0.001f, 0.001f, 0.001f, 0.002f,  //
    0.002f, 0.001f, 0.001f, 0,      0,      0,      0,      0.001f,  //
    0.001f, 0,      0,      0,      0,      0.001f, 0,      0,       //
    0.057f, 0.010f, 0.031f, 0.011f, 0.021f, 0.067f, 0.007f, 0.013f,  //
    0.052f, 0.011f, 0.023f, 0.030f, 0.024f, 0.043f, 0.075f, 0.026f,  //
    0.038f, 0.034f, 0.046f, 0.016f, 0.001f, 0.006f, 0.002f, 0.011f,  //
    0.004f, 0.004f, 0,      0.012f, 0.012f, 0.003f, 0.005f, 0.015f,  //
};

// The code page each candidate index stands for.
constexpr std::array<TCodePage, 4> kResultPage = {TCodePage::CP1251, TCodePage::KOI8R,
                                                  TCodePage::ISO8859, TCodePage::CP866};

// Byte counts of a text, with the list of the bytes it holds.
struct Histogram {
  std::array<std::uint64_t, 256> Count{};
  std::array<std::uint8_t, 256> Present{};
  int Distinct = 0;
};

// The score of the text whose byte counts are histogram, after every byte x is
// replaced by translate[x]. Counting through the histogram gives the same letter
// counts as translating the text itself.
float Score(const Histogram& histogram, std::uint64_t length,
            const std::array<std::uint8_t, 256>& translate) {
  std::array<std::uint64_t, 64> letters{};
  for (int i = 0; i < histogram.Distinct; ++i) {
    const int x = histogram.Present[i];
    const int y = translate[x];
    if (y >= 0xC0) letters[y - 0xC0] += histogram.Count[x];
  }
  float sum = 0;
  for (int k = 0; k < 64; ++k) {
    // 0 / length is exactly 0, so an absent letter needs no division.
    const long double share =
        letters[k] == 0 ? 0.0L
                        : static_cast<long double>(letters[k]) / static_cast<long double>(length);
    const long double d = share - static_cast<long double>(kShares[k]);
    sum = static_cast<float>(static_cast<long double>(sum) + d * d);
  }
  return sum;
}

// A character that Cyrillic or Latin text in UTF-8 plausibly holds beyond ASCII:
// letters of the Latin and Cyrillic blocks, punctuation, currency and letter-like
// symbols (the "№" sign), arrows, dingbats and pictographs. Short words of the
// one-byte code pages that happen to be valid UTF-8 decode to CJK, Braille and
// the like instead ("чай" in CP866 is U+7829).
bool PlausibleCodePoint(char32_t cp) {
  return (cp >= 0x80 && cp <= 0x24F) || (cp >= 0x400 && cp <= 0x52F) ||
         (cp >= 0x1E00 && cp <= 0x1EFF) || (cp >= 0x2000 && cp <= 0x21FF) ||
         (cp >= 0x2600 && cp <= 0x27BF) || (cp >= 0x1F000 && cp <= 0x1FAFF) ||
         (cp >= 0xFE00 && cp <= 0xFE0F);  // emoji variation selectors
}

// Valid UTF-8 with at least one multi-byte sequence, every one of them a character
// that Cyrillic or Latin text plausibly holds.
bool IsMultiByteUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  bool multi = false;
  while (p < end) {
    char32_t cp;
    const std::size_t n = utf8::Decode(p, end, cp);
    if (cp == utf8::kInvalid) return false;
    if (n > 1) {
      if (!PlausibleCodePoint(cp)) return false;
      multi = true;
    }
    p += n;
  }
  return multi;
}

}  // namespace

TCodePage DetectCodePage(std::string_view text) {
  if (IsMultiByteUtf8(text)) return TCodePage::UTF8;
  if (text.empty()) text = " ";

  Histogram histogram;
  for (const char ch : text)
    ++histogram.Count[static_cast<unsigned char>(ch)];
  for (int b = 0; b < 256; ++b)
    if (histogram.Count[b] != 0)
      histogram.Present[histogram.Distinct++] = static_cast<std::uint8_t>(b);
  const std::uint64_t length = text.size();

  std::array<std::uint8_t, 256> translate{};
  for (int b = 0; b < 256; ++b)
    translate[b] = static_cast<std::uint8_t>(b);

  float best = Score(histogram, length, translate);
  int bestI = 0, bestJ = -1;  // the untranslated text
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      if (j == i) continue;
      for (int b = 0; b < 64; ++b)
        translate[kAlphabets[j][b]] = kAlphabets[i][b];
      const float score = Score(histogram, length, translate);
      if (score < best) {
        best = score;
        bestI = i;
        bestJ = j;
      }
    }
  }
  // The pair that reads CP866 letters as Windows-1251 letters wins for CP866 text.
  if (bestI == 0 && bestJ == 3) return TCodePage::CP866;
  return kResultPage[bestI];
}

}  // namespace vigilo
