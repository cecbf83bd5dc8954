#pragma once
// Transfer codecs of the mail library: base64, quoted-printable and RFC 2047
// encoded words. The uuencode codec is in msuucode.h.

#include <string>
#include <string_view>

#include "mail/msmsgcls.h"

namespace ms {

// ---- decoding ----

// Decodes the RFC 2047 encoded words of a header value (the charset named in
// a word is not converted). Blanks between two adjacent encoded words vanish;
// a word that cannot be decoded is left as it is.
std::string DecodeHeaderWords(const std::string& text);
// The same, also telling the charsets the encoded words declared.
std::string DecodeHeaderWords(const std::string& text, TmsHeaderCharSets& charsets);
// RFC 2045 base64; "=" padding is dropped; EmsError "Invalid
// Character" for a byte outside the alphabet.
std::string DecodeBase64Text(const std::string& text);
// The same, appending the bytes to Out.
void DecodeBase64Append(const std::string& text, std::string& out);
// Base64 lines (ended by CR LF, a lone CR or a lone LF), each decoded on its
// own as DecodeBase64Append decodes it, appended to Out.
void DecodeBase64LinesAppend(std::string_view text, std::string& out);
// Quoted-printable text lines to bytes. A line ending in "=" is a soft break;
// every other line ends with CR LF (unless it ends with the byte 26), except
// that the last line gets none when FinalLineBreak is false.
void QuotedPrintableDecode(const TmsStrings& lines, std::string& out, bool finalLineBreak = true);
// The same for text whose lines end with CR LF, a lone CR or a lone LF (a line
// end at the very end of the text adds no empty line).
void QuotedPrintableDecodeText(std::string_view text, std::string& out, bool finalLineBreak = true);

// ---- encoding ----

// RFC 2045 base64 of the bytes, padded with "=".
std::string EncodeBase64Text(const std::string& bytes);
void EncodeBase64Append(const char* bytes, std::size_t size, std::string& out);
// Base64 lines of 76 characters (blocks of 57 bytes), each followed by CR LF,
// appended to Out.
void EncodeBase64Block(const char* bytes, std::size_t size, std::string& out);
// Base64 lines of 76 characters (blocks of 57 bytes), appended to Lines.
void EncodeBase64Lines(const std::string& bytes, TmsStrings& lines);
// Quoted-printable lines of the bytes, appended to Lines: each paragraph
// (ended by CR LF, LF CR, CR CR, LF LF, a lone CR or LF) is cut into pieces of
// at most 65 characters with soft breaks. When the bytes do not end with a line
// end the last line gets a soft break too, so that decoding gives them back exactly.
void QuotedPrintableEncode(const std::string& bytes, TmsStrings& lines);
// The same lines appended to Out, each followed by CR LF. Bytes cut right after
// a CR LF encode piece by piece to the same lines as in one piece.
void QuotedPrintableEncodeBlock(std::string_view bytes, std::string& out);
// ISO-2022-JP text (beginning with ESC) as one "B" encoded word; other text unchanged.
std::string EncodeHeaderWord(const std::string& text);
// Text with bytes above 127 (or any text when Always is set) as a run of "B"
// encoded words in the given charset (each word at most 75 characters, UTF-8
// characters never split), separated by CR LF and a blank so that the header
// folds; other text unchanged.
std::string EncodeHeaderWords(const std::string& text, const std::string& charset,
                              bool always = false);
// Prefix followed by 8 random digits (0..8).
std::string GenerateBoundary(const std::string& prefix);

// True when some byte is above 127.
bool HasEightBit(const std::string& text);

}  // namespace ms
