// Hand-made JPEG streams for the decoder tests: segments byte by byte and entropy-coded
// data from bit strings.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vellum::testing {

struct StreamBuilder {
  std::vector<uint8_t> bytes;

  StreamBuilder& raw(std::initializer_list<uint8_t> b) {
    bytes.insert(bytes.end(), b);
    return *this;
  }
  StreamBuilder& raw(const std::vector<uint8_t>& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  StreamBuilder& soi() { return raw({0xFF, 0xD8}); }
  StreamBuilder& eoi() { return raw({0xFF, 0xD9}); }

  // A segment: FF code, length (body + 2), body.
  StreamBuilder& segment(uint8_t code, const std::vector<uint8_t>& body) {
    const size_t length = body.size() + 2;
    raw({0xFF, code, uint8_t(length >> 8), uint8_t(length)});
    return raw(body);
  }

  // DQT of one 8-bit table filled with `value`.
  StreamBuilder& dqt(uint8_t table, uint8_t value) {
    std::vector<uint8_t> body = {table};
    body.insert(body.end(), 64, value);
    return segment(0xDB, body);
  }

  // Frame header: components as (id, sampling byte, quantization selector).
  StreamBuilder& sof(uint8_t code, uint16_t width, uint16_t height,
                     std::initializer_list<std::initializer_list<uint8_t>> components) {
    std::vector<uint8_t> body = {8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width),
                                 uint8_t(components.size())};
    for (auto c : components) body.insert(body.end(), c);
    return segment(code, body);
  }

  // DHT of one table: class/id byte, counts of lengths 1..16, values (written as given).
  StreamBuilder& dht(uint8_t classAndId, const std::vector<uint8_t>& counts, const std::vector<uint8_t>& values) {
    std::vector<uint8_t> body = {classAndId};
    for (int i = 0; i < 16; ++i) body.push_back(i < int(counts.size()) ? counts[i] : 0);
    body.insert(body.end(), values.begin(), values.end());
    return segment(0xC4, body);
  }

  // Scan header: components as (selector, table byte), then Ss, Se, Ah/Al.
  StreamBuilder& sos(std::initializer_list<std::initializer_list<uint8_t>> components, uint8_t ss, uint8_t se,
                     uint8_t ahal) {
    std::vector<uint8_t> body = {uint8_t(components.size())};
    for (auto c : components) body.insert(body.end(), c);
    body.push_back(ss);
    body.push_back(se);
    body.push_back(ahal);
    return segment(0xDA, body);
  }

  // Entropy-coded data from a string of '0' and '1' (other characters ignored), padded with
  // 1 bits to a whole byte, 0xFF bytes stuffed.
  StreamBuilder& bits(const std::string& text) {
    uint32_t value = 0, count = 0;
    auto put = [&](uint8_t byte) {
      bytes.push_back(byte);
      if (byte == 0xFF) bytes.push_back(0x00);
    };
    for (char ch : text) {
      if (ch != '0' && ch != '1') continue;
      value = value << 1 | uint32_t(ch == '1');
      if (++count == 8) {
        put(uint8_t(value));
        value = 0;
        count = 0;
      }
    }
    if (count > 0) put(uint8_t(value << (8 - count) | ((1u << (8 - count)) - 1)));
    return *this;
  }
};

// A DC table whose single code "0" (length 1) is category `category`, and an AC table whose
// single code "0" is the end of block: the smallest tables for DC-only blocks.
inline StreamBuilder& dcOnlyTables(StreamBuilder& s, uint8_t category, uint8_t dcId = 0, uint8_t acId = 0) {
  s.dht(uint8_t(0x00 | dcId), {1}, {category});
  return s.dht(uint8_t(0x10 | acId), {1}, {0x00});
}

}  // namespace vellum::testing
