#pragma once
// The same work done by GMime 3, for comparison: decode every leaf part of a
// message into memory, and write a message with one base64 attachment.

#include <fcntl.h>
#include <gmime/gmime.h>

#include <string>
#include <vector>

namespace bench {

inline void GMimeInit() {
  static const bool done = [] {
    g_mime_init();
    return true;
  }();
  (void)done;
}

// The decoded bytes of each leaf part of a parsed message, in order.
class GMimeDecoded {
 public:
  GMimeDecoded() { GMimeInit(); }
  GMimeDecoded(const GMimeDecoded&) = delete;
  GMimeDecoded& operator=(const GMimeDecoded&) = delete;
  ~GMimeDecoded() {
    for (GMimeStream* s : parts_)
      g_object_unref(s);
  }

  // Parses the message read from Stream (which it takes over).
  void Parse(GMimeStream* stream) {
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    g_object_unref(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    if (!message) return;
    g_mime_message_foreach(message, &GMimeDecoded::Leaf, this);
    g_object_unref(message);
  }
  void ParseFile(const std::string& path) {
    GMimeStream* s = g_mime_stream_fs_open(path.c_str(), O_RDONLY, 0, nullptr);
    if (s) Parse(s);
  }
  void ParseBytes(const std::string& bytes) {
    Parse(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  }

  std::size_t Count() const { return parts_.size(); }
  std::string Bytes(std::size_t i) const {
    GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(parts_[i]));
    return std::string(reinterpret_cast<const char*>(a->data), a->len);
  }

 private:
  static void Leaf(GMimeObject*, GMimeObject* object, gpointer self) {
    if (!GMIME_IS_PART(object)) return;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
    if (!content) return;
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, out);
    static_cast<GMimeDecoded*>(self)->parts_.push_back(out);
  }

  std::vector<GMimeStream*> parts_;
};

// A message with one base64 attachment, written with CR LF line ends (as
// mail travels) or with GMime's default LF.
class GMimeAttachmentMessage {
 public:
  explicit GMimeAttachmentMessage(const std::string& bytes) {
    GMimeInit();
    message_ = g_mime_message_new(TRUE);
    g_mime_message_add_mailbox(message_, GMIME_ADDRESS_TYPE_FROM, "Ivan", "ivan@example.ru");
    g_mime_message_add_mailbox(message_, GMIME_ADDRESS_TYPE_TO, "Anna", "anna@example.ru");
    g_mime_message_set_subject(message_, "Benchmark", nullptr);
    GMimePart* part = g_mime_part_new_with_type("application", "octet-stream");
    g_mime_part_set_filename(part, "big.bin");
    GByteArray* array = g_byte_array_sized_new(static_cast<guint>(bytes.size()));
    g_byte_array_append(array, reinterpret_cast<const guint8*>(bytes.data()),
                        static_cast<guint>(bytes.size()));
    GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(array);
    GMimeDataWrapper* wrapper =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_object_unref(stream);
    g_mime_part_set_content(part, wrapper);
    g_object_unref(wrapper);
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_message_set_mime_part(message_, GMIME_OBJECT(part));
    g_object_unref(part);
    dos_ = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(dos_, GMIME_NEWLINE_FORMAT_DOS);
  }
  GMimeAttachmentMessage(const GMimeAttachmentMessage&) = delete;
  GMimeAttachmentMessage& operator=(const GMimeAttachmentMessage&) = delete;
  ~GMimeAttachmentMessage() {
    g_mime_format_options_free(dos_);
    g_object_unref(message_);
  }

  // The message's bytes; returns their count.
  std::size_t Write(bool crlf, GByteArray** keep = nullptr) {
    GMimeStream* out = g_mime_stream_mem_new();
    g_mime_object_write_to_stream(GMIME_OBJECT(message_), crlf ? dos_ : nullptr, out);
    GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
    const std::size_t n = a->len;
    if (keep) {
      g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(out), FALSE);
      *keep = a;
    }
    g_object_unref(out);
    return n;
  }

 private:
  GMimeMessage* message_ = nullptr;
  GMimeFormatOptions* dos_ = nullptr;
};

}  // namespace bench
