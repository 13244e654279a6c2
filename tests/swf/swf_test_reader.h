// Test-only readers for what the writer produces: tag splitting and action records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "swf/byte_buffer.h"
#include "swf/swf_writer.h"

namespace quillon::testing {

inline std::vector<uint8_t> OutputBytes(const SwfWriter& w) {
  const ByteBuffer* b = w.Output();
  return std::vector<uint8_t>(b->Data(), b->Data() + b->Cursor());
}

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t n) {
  return std::vector<uint8_t>(v.begin() + from, v.begin() + from + n);
}

struct ParsedTag {
  uint16_t code = 0;
  bool longHeader = false;
  std::vector<uint8_t> body;
};

// Splits a tag sequence; stops at a tag that runs past the end.
inline std::vector<ParsedTag> ParseTags(const std::vector<uint8_t>& bytes, size_t from = 0) {
  std::vector<ParsedTag> tags;
  size_t p = from;
  while (p + 2 <= bytes.size()) {
    const uint16_t word = static_cast<uint16_t>(bytes[p] | (bytes[p + 1] << 8));
    ParsedTag t;
    t.code = word >> 6;
    uint32_t length = word & 0x3F;
    p += 2;
    if (length == 0x3F) {
      if (p + 4 > bytes.size()) break;
      length = bytes[p] | (bytes[p + 1] << 8) | (bytes[p + 2] << 16) |
               (static_cast<uint32_t>(bytes[p + 3]) << 24);
      p += 4;
      t.longHeader = true;
    }
    if (p + length > bytes.size()) break;
    t.body = Slice(bytes, p, length);
    p += length;
    tags.push_back(std::move(t));
  }
  return tags;
}

struct ActionRecord {
  uint8_t code = 0;
  std::vector<uint8_t> data;
};

// Splits a DoAction body into its records (the closing 0x00 included).
inline std::vector<ActionRecord> ParseActions(const std::vector<uint8_t>& body) {
  std::vector<ActionRecord> records;
  size_t p = 0;
  while (p < body.size()) {
    ActionRecord r;
    r.code = body[p++];
    if (r.code >= 0x80 && p + 2 <= body.size()) {
      const size_t length = body[p] | (body[p + 1] << 8);
      p += 2;
      r.data = Slice(body, p, std::min(length, body.size() - p));
      p += length;
    }
    records.push_back(std::move(r));
  }
  return records;
}

// The strings a script pushes, in order (a push of a string: type 0, text, terminator).
inline std::vector<std::string> PushedStrings(const std::vector<ActionRecord>& records) {
  std::vector<std::string> out;
  for (const ActionRecord& r : records) {
    if (r.code == 0x96 && !r.data.empty() && r.data[0] == 0x00) {
      out.emplace_back(reinterpret_cast<const char*>(r.data.data()) + 1);
    }
  }
  return out;
}

}  // namespace quillon::testing
