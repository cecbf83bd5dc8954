#include <gtest/gtest.h>

#include "base/digest.h"
#include "base/text.h"
#include "base/utf8.h"

namespace vigilo {
namespace {

TEST(Text, TrimAndCaseLeaveOtherBytesAlone) {
  EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
  EXPECT_EQ(Trim(std::string("\0a\0", 3)), "a");
  // Bytes of a Cyrillic code page must not change whatever the locale.
  EXPECT_EQ(AsciiLower("AbC-\xC0\xDF"), "abc-\xC0\xDF");
  EXPECT_EQ(AsciiUpper("aBc-\xE0\xFF"), "ABC-\xE0\xFF");
  EXPECT_TRUE(EqualsNoCase("Content-TYPE", "content-type"));
  EXPECT_FALSE(EqualsNoCase("ab", "abc"));
  EXPECT_TRUE(StartsWithNoCase("DWORD:0000003c", "dword:"));
  EXPECT_FALSE(StartsWithNoCase("dw", "dword:"));
}

TEST(Utf8, CutsNeverSplitACharacter) {
  EXPECT_EQ(CutChars("Ёж", 1), "Ё");
  EXPECT_EQ(CutChars("Ёж", 5), "Ёж");
  EXPECT_EQ(CutChars(std::string(300, '\xe6'), 255).size(), 255u);  // single-byte code page
  EXPECT_EQ(CutBytes("Ёж", 3), "Ё");
  EXPECT_EQ(CutBytes("Ёж", 1), "");
  EXPECT_EQ(CutBytes("a\xFF\xD0", 2), "a\xFF");  // stray bytes count one each
  EXPECT_EQ(CutBytes("ab", 5), "ab");
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));  // a surrogate
  EXPECT_EQ(ToValidUtf8("a\xffz"), "a\xEF\xBF\xBDz");
}

TEST(Digest, Sha256AndFingerprints) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string hex = Sha256Hex("abc");
  EXPECT_EQ(NormalizeFingerprint("sha256 Fingerprint=" + ColonFingerprint(hex)), hex);
  EXPECT_EQ(NormalizeFingerprint(" " + AsciiUpper(hex) + "\t"), hex);
  for (const std::string& bad : {hex.substr(1), hex + "a", hex.substr(1) + "g", std::string()})
    EXPECT_EQ(NormalizeFingerprint(bad), "") << bad;
}

}  // namespace
}  // namespace vigilo
