// Crafted archives for tests of damaged and hostile input: each entry's local header and central header
// are written from fields the test chooses, so a fixture can lie about offsets, sizes, counts and methods.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zip/records/crc32.h"
#include "zip/records/zip_format.h"

namespace kzb::zip::crafted {

struct CraftedEntry {
  std::string name;
  std::string data;  // the stored bytes (written as they are)
  std::uint16_t method = kMethodStored;
  std::uint16_t flags = 0;
  bool write_local = true;                  // false: only a central header names it
  std::int64_t central_offset = -1;         // -1: where its local header went
  std::int64_t central_compressed = -1;     // -1: the data's size
  std::int64_t central_uncompressed = -1;   // -1: the data's size
  std::int64_t central_crc = -1;            // -1: the data's CRC
  std::vector<std::uint8_t> central_extra;  // extra field of the central header
};

inline CraftedEntry Entry(std::string name, std::string data) {
  CraftedEntry entry;
  entry.name = std::move(name);
  entry.data = std::move(data);
  return entry;
}
// An entry named only in the central directory, pointing at the local header at offset.
inline CraftedEntry CentralOnly(std::string name, std::string data, std::int64_t offset) {
  CraftedEntry entry = Entry(std::move(name), std::move(data));
  entry.write_local = false;
  entry.central_offset = offset;
  return entry;
}

struct CraftedEnd {
  std::int64_t declared_entries = -1;  // -1: the number of central headers (modulo 65536)
  std::int64_t central_offset = -1;    // -1: where the central directory went
  std::int64_t central_size = -1;      // -1: its size
};

inline void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void Put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline std::uint32_t CrcOf(const std::string& data) {
  return Crc32Of(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

inline std::vector<std::uint8_t> CraftArchive(const std::vector<CraftedEntry>& entries, const CraftedEnd& end = {}) {
  std::vector<std::uint8_t> out;
  std::vector<std::int64_t> offsets;
  for (const CraftedEntry& e : entries) {
    offsets.push_back(static_cast<std::int64_t>(out.size()));
    if (!e.write_local) continue;
    Put32(out, kLocalHeaderSignature);
    Put16(out, kVersionDefault);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put32(out, 0x00210000);  // 1980-01-01 00:00
    Put32(out, CrcOf(e.data));
    Put32(out, static_cast<std::uint32_t>(e.data.size()));
    Put32(out, static_cast<std::uint32_t>(e.data.size()));
    Put16(out, static_cast<std::uint32_t>(e.name.size()));
    Put16(out, 0);
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), e.data.begin(), e.data.end());
  }
  const auto directory_start = static_cast<std::int64_t>(out.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const CraftedEntry& e = entries[i];
    Put32(out, kCentralHeaderSignature);
    Put16(out, kVersionDefault);
    Put16(out, kVersionDefault);
    Put16(out, e.flags);
    Put16(out, e.method);
    Put32(out, 0x00210000);
    Put32(out, static_cast<std::uint32_t>(e.central_crc >= 0 ? e.central_crc : CrcOf(e.data)));
    Put32(out, static_cast<std::uint32_t>(e.central_compressed >= 0 ? e.central_compressed : e.data.size()));
    Put32(out, static_cast<std::uint32_t>(e.central_uncompressed >= 0 ? e.central_uncompressed : e.data.size()));
    Put16(out, static_cast<std::uint32_t>(e.name.size()));
    Put16(out, static_cast<std::uint32_t>(e.central_extra.size()));
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, 0x20);
    Put32(out, static_cast<std::uint32_t>(e.central_offset >= 0 ? e.central_offset : offsets[i]));
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), e.central_extra.begin(), e.central_extra.end());
  }
  const auto directory_size = static_cast<std::int64_t>(out.size()) - directory_start;
  Put32(out, kEndCentralSignature);
  Put16(out, 0);
  Put16(out, 0);
  const std::int64_t count = end.declared_entries >= 0 ? end.declared_entries : std::int64_t(entries.size());
  Put16(out, static_cast<std::uint32_t>(count & 0xFFFF));
  Put16(out, static_cast<std::uint32_t>(count & 0xFFFF));
  Put32(out, static_cast<std::uint32_t>(end.central_size >= 0 ? end.central_size : directory_size));
  Put32(out, static_cast<std::uint32_t>(end.central_offset >= 0 ? end.central_offset : directory_start));
  Put16(out, 0);
  return out;
}

// A Zip64 extra block holding the given 64-bit values in order (uncompressed, compressed, offset as the
// central header's markers ask).
inline std::vector<std::uint8_t> Zip64Extra(const std::vector<std::uint64_t>& values) {
  std::vector<std::uint8_t> out;
  Put16(out, kZip64ExtraId);
  Put16(out, static_cast<std::uint32_t>(values.size() * 8));
  for (std::uint64_t v : values) Put64(out, v);
  return out;
}

}  // namespace kzb::zip::crafted
