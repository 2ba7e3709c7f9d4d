// Deflate codec benchmark: our compressor (TDeflater::DeflateFile, through the same read/write callbacks
// the archive writer uses) and our inflater (TInflater) side by side with zlib (raw deflate, window bits
// -15, memLevel 8) and libdeflate, in one process, on the benchmark corpus.
//
//   bench_codec [--corpus DIR] [--limit-mb N] [--levels 1,6,9] [--reps N] [--inputs tree,big,random,text]
//               [--engines ours,zlib,libdeflate] [--no-inflate 1] [--comp-reps N]
//               [--methods deflate64,bzip2,lzma,xz,zstd|none]
//
// DIR is what /work/shared/bench/make-corpus.sh builds (default /tmp/kzb-corpus): tree/ is compressed file
// by file (as archive entries), big/, random/ and text/ as one buffer each; --limit-mb cuts every input
// (tree: the file list) to N MiB, 0 = everything. Speeds are MB (10^6 bytes) of uncompressed data per
// second of thread CPU time, best of --reps runs, so other load on the machine disturbs them less. Every
// decoder inflates the same stream (zlib's at that level), and every output is checked against the
// input. The ratio lines compare ours with zlib in this run: size (ours / zlib, lower is better) and
// speed (ours / zlib, higher is better), and the same against libdeflate. Compression runs --comp-reps
// times (default: --reps below level 6, once from level 6 on), the engines taking turns. --engines
// limits the compressors run (to profile one alone); the inflate columns need zlib's streams and are
// left out without zlib or with --no-inflate 1.
//
// A second table decodes the other methods the engine reads, on each input joined into one entry: our
// decoder as an extraction runs it (32 KiB blocks through the callbacks) beside the
// library's own one-shot decoder (libbz2, liblzma, libzstd), and our Deflate64 inflater on 7-Zip's
// stream beside our deflate inflater on zlib's level-6 stream of the same data (when 7zz is installed).
// --methods none leaves the table out.
#include <bzlib.h>
#include <libdeflate.h>
#include <lzma.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zip/decompress/bzip2_decoder.h"
#include "zip/decompress/inflate.h"
#include "zip/decompress/lzma_decoder.h"
#include "zip/decompress/zstd_decoder.h"
#include "zip/deflate/deflate_file.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One benchmark input: a list of files (entries), each compressed on its own.
struct Input {
  std::string name;
  std::vector<Bytes> files;
  std::size_t total = 0;
};

Input LoadInput(const fs::path& dir, const std::string& name, std::size_t limit) {
  Input input{name, {}, 0};
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(dir / name)) {
    if (entry.is_regular_file()) paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  for (const fs::path& p : paths) {
    if (limit != 0 && input.total >= limit) break;
    Bytes data = ReadFile(p);
    if (limit != 0 && input.total + data.size() > limit) data.resize(limit - input.total);
    input.total += data.size();
    input.files.push_back(std::move(data));
  }
  return input;
}

// Compressed form of every file of an input.
using Streams = std::vector<Bytes>;

struct Engine {
  const char* name;
  std::function<Streams(const Input&, int level)> compress;
  // Inflates every stream into out (sized to the originals); returns false on a decode error.
  std::function<bool(const Streams&, std::vector<Bytes>& out)> inflate;
};

// Which of the files of the last OursCompress were stored whole (entry method 0, no deflate framing).
std::vector<bool> g_ours_stored;

Streams OursCompress(const Input& input, int level) {
  static kzb::zip::TDeflater deflater;
  g_ours_stored.clear();
  Streams streams;
  streams.reserve(input.files.size());
  // The output collects in one buffer kept for the program's life, as libdeflate's does below.
  static Bytes out;
  for (const Bytes& file : input.files) {
    out.clear();
    out.reserve(file.size() + file.size() / 100 + 64);
    std::size_t pos = 0;
    const kzb::zip::DeflateResult result = deflater.DeflateFile(
        level,
        [&](std::uint8_t* buf, std::int64_t max) {
          const std::size_t n = std::min(static_cast<std::size_t>(max), file.size() - pos);
          std::memcpy(buf, file.data() + pos, n);
          pos += n;
          return static_cast<std::int64_t>(n);
        },
        [&](const std::uint8_t* data, std::int64_t count) { out.insert(out.end(), data, data + count); });
    g_ours_stored.push_back(result.stored);
    streams.emplace_back(out.begin(), out.end());
  }
  return streams;
}

Streams ZlibCompress(const Input& input, int level) {
  z_stream s{};
  deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Streams streams;
  streams.reserve(input.files.size());
  for (const Bytes& file : input.files) {
    deflateReset(&s);
    Bytes out(deflateBound(&s, file.size()));
    static Bytef dummy = 0;
    s.next_in = file.empty() ? &dummy : const_cast<Bytef*>(file.data());
    s.avail_in = static_cast<uInt>(file.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    streams.push_back(std::move(out));
  }
  deflateEnd(&s);
  return streams;
}

Streams LibdeflateCompress(const Input& input, int level) {
  // One compressor per level and one output buffer, kept for the program's life as ours keeps its
  // compressor: no run pays for fresh memory the other does not.
  static std::map<int, std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>> compressors;
  static Bytes scratch;
  auto found = compressors.find(level);
  if (found == compressors.end()) {
    found = compressors
                .emplace(level, std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>(
                                    libdeflate_alloc_compressor(level), libdeflate_free_compressor))
                .first;
  }
  libdeflate_compressor* c = found->second.get();
  Streams streams;
  streams.reserve(input.files.size());
  for (const Bytes& file : input.files) {
    const std::size_t bound = libdeflate_deflate_compress_bound(c, file.size());
    if (scratch.size() < bound) scratch.resize(bound);
    const std::size_t size = libdeflate_deflate_compress(c, file.data(), file.size(), scratch.data(), bound);
    streams.emplace_back(scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(size));
  }
  return streams;
}

bool OursInflate(const Streams& streams, std::vector<Bytes>& out) {
  static kzb::zip::TInflater inflater;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const Bytes& in = streams[i];
    Bytes& dest = out[i];
    std::size_t in_pos = 0;
    std::size_t out_pos = 0;
    bool overflow = false;
    const auto r = inflater.Inflate(
        [&](std::uint8_t* buf, std::size_t max) {
          const std::size_t n = std::min(max, in.size() - in_pos);
          std::memcpy(buf, in.data() + in_pos, n);
          in_pos += n;
          return n;
        },
        [&](const std::uint8_t* data, std::size_t count) {
          if (count > dest.size() - out_pos) {
            overflow = true;
            throw kzb::zip::EBiggerThanUncompressed();
          }
          std::memcpy(dest.data() + out_pos, data, count);
          out_pos += count;
        });
    if (r != kzb::zip::DecodeResult::kOk || overflow || out_pos != dest.size()) return false;
  }
  return true;
}

bool ZlibInflate(const Streams& streams, std::vector<Bytes>& out) {
  z_stream s{};
  inflateInit2(&s, -15);
  bool ok = true;
  static Bytef dummy = 0;  // zlib rejects a null next_out even for an empty entry
  for (std::size_t i = 0; i < streams.size() && ok; ++i) {
    inflateReset(&s);
    s.next_in = const_cast<Bytef*>(streams[i].data());
    s.avail_in = static_cast<uInt>(streams[i].size());
    s.next_out = out[i].empty() ? &dummy : out[i].data();
    s.avail_out = static_cast<uInt>(out[i].size());
    ok = inflate(&s, Z_FINISH) == Z_STREAM_END && s.total_out == out[i].size();
  }
  inflateEnd(&s);
  return ok;
}

bool LibdeflateInflate(const Streams& streams, std::vector<Bytes>& out) {
  static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (libdeflate_deflate_decompress(d, streams[i].data(), streams[i].size(), out[i].data(), out[i].size(), nullptr) !=
        LIBDEFLATE_SUCCESS) {
      return false;
    }
  }
  return true;
}

std::size_t TotalSize(const Streams& s) {
  std::size_t n = 0;
  for (const Bytes& b : s) n += b.size();
  return n;
}

struct Row {
  double compress_mbs = 0;
  double inflate_mbs = 0;
  double ratio = 0;
};

// --- The other methods.

std::string Joined(const Input& input) {
  std::string all;
  all.reserve(input.total);
  for (const Bytes& f : input.files) all.append(f.begin(), f.end());
  return all;
}

// Our decoder of method over stream into out (sized to the original); false on any failure.
bool OursDecode(std::uint16_t method, std::uint16_t flags, const Bytes& stream, Bytes& out) {
  using namespace kzb::zip;
  static TInflater inflater(InflateFormat::kDeflate);
  static TInflater inflater64(InflateFormat::kDeflate64);
  std::size_t in_pos = 0;
  std::size_t out_pos = 0;
  const InputFn input = [&](std::uint8_t* buf, std::size_t max) {
    const std::size_t n = std::min(max, stream.size() - in_pos);
    std::memcpy(buf, stream.data() + in_pos, n);
    in_pos += n;
    return n;
  };
  const OutputBlockFn output = [&](const std::uint8_t* data, std::size_t count) {
    if (count > out.size() - out_pos) throw EBiggerThanUncompressed();
    std::memcpy(out.data() + out_pos, data, count);
    out_pos += count;
  };
  DecodeResult r = DecodeResult::kUnsupportedMethod;
  switch (method) {
    case kMethodDeflated:
      r = inflater.Inflate(input, output);
      break;
    case kMethodDeflate64:
      r = inflater64.Inflate(input, output);
      break;
    case kMethodBzip2:
      r = DecodeBzip2(input, output, out.size());
      break;
    case kMethodLzma:
      r = DecodeLzma(input, output, flags, out.size());
      break;
    case kMethodXz:
      r = DecodeXz(input, output, out.size());
      break;
    case kMethodZstd:
      r = DecodeZstd(input, output, out.size());
      break;
    default:
      break;
  }
  return r == DecodeResult::kOk && out_pos == out.size();
}

// Deflate64 stream of data written by 7-Zip (empty when 7zz is missing or fails).
Bytes SevenZipDeflate64(const std::string& data) {
  const fs::path dir = fs::temp_directory_path() / ("bench_codec_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  { std::ofstream(dir / "data", std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size())); }
  const std::string command = "cd '" + dir.string() + "' && 7zz a -tzip -bso0 -bsp0 -mm=Deflate64 -mx=5 d.zip data";
  Bytes stream;
  if (std::system(command.c_str()) == 0) {
    const Bytes zip = ReadFile(dir / "d.zip");
    // The only entry starts the archive: local header, name, extra field, data (sizes from the header).
    if (zip.size() > 30 && zip[8] == 9) {
      auto u16 = [&](std::size_t at) { return static_cast<std::size_t>(zip[at] | (zip[at + 1] << 8)); };
      const std::size_t size = u16(18) | (u16(20) << 16);
      const std::size_t start = 30 + u16(26) + u16(28);
      if (start + size <= zip.size()) stream.assign(zip.begin() + start, zip.begin() + start + size);
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return stream;
}

struct MethodRow {
  std::string name;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  Bytes stream;
  std::function<bool(const Bytes&, Bytes&)> library;  // one-shot decode; empty: compare with our deflate
};

std::vector<MethodRow> MakeMethodRows(const std::string& data, const std::vector<std::string>& wanted) {
  const auto want = [&](const char* name) { return std::find(wanted.begin(), wanted.end(), name) != wanted.end(); };
  const auto* src = reinterpret_cast<const std::uint8_t*>(data.data());
  std::vector<MethodRow> rows;
  if (want("deflate64")) {
    Bytes stream = SevenZipDeflate64(data);
    if (!stream.empty()) rows.push_back({"deflate64", kzb::zip::kMethodDeflate64, 0, std::move(stream), {}});
  }
  if (want("bzip2")) {
    auto size = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
    Bytes stream(size);
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(stream.data()), &size, const_cast<char*>(data.data()),
                             static_cast<unsigned>(data.size()), 9, 0, 0);
    stream.resize(size);
    rows.push_back({"bzip2", kzb::zip::kMethodBzip2, 0, std::move(stream), [](const Bytes& in, Bytes& out) {
                      auto n = static_cast<unsigned>(out.size());
                      return BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &n,
                                                        const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                                        static_cast<unsigned>(in.size()), 0, 0) == BZ_OK &&
                             n == out.size();
                    }});
  }
  if (want("lzma")) {
    // The ZIP form: version, properties size, properties, raw stream with its end marker.
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes stream(data.size() + data.size() / 2 + 1024);
    std::size_t pos = 9;
    lzma_raw_buffer_encode(filters, nullptr, src, data.size(), stream.data(), &pos, stream.size());
    stream.resize(pos);
    stream[0] = 20;
    stream[1] = 0;
    stream[2] = 5;
    stream[3] = 0;
    stream[4] = static_cast<std::uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc);
    for (int i = 0; i < 4; ++i) stream[5 + i] = static_cast<std::uint8_t>(options.dict_size >> (8 * i));
    rows.push_back({"lzma", kzb::zip::kMethodLzma, kzb::zip::kFlagLzmaEndMarker, std::move(stream),
                    [options](const Bytes& in, Bytes& out) {
                      lzma_options_lzma o = options;
                      lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
                      std::size_t in_pos = 9;
                      std::size_t out_pos = 0;
                      const lzma_ret r = lzma_raw_buffer_decode(f, nullptr, in.data(), &in_pos, in.size(), out.data(),
                                                                &out_pos, out.size());
                      return (r == LZMA_OK || r == LZMA_STREAM_END) && out_pos == out.size();
                    }});
  }
  if (want("xz")) {
    Bytes stream(lzma_stream_buffer_bound(data.size()));
    std::size_t pos = 0;
    lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, src, data.size(), stream.data(), &pos, stream.size());
    stream.resize(pos);
    rows.push_back({"xz", kzb::zip::kMethodXz, 0, std::move(stream), [](const Bytes& in, Bytes& out) {
                      std::uint64_t limit = UINT64_MAX;
                      std::size_t in_pos = 0;
                      std::size_t out_pos = 0;
                      return lzma_stream_buffer_decode(&limit, 0, nullptr, in.data(), &in_pos, in.size(), out.data(),
                                                       &out_pos, out.size()) == LZMA_OK &&
                             out_pos == out.size();
                    }});
  }
  if (want("zstd")) {
    Bytes stream(ZSTD_compressBound(data.size()));
    stream.resize(ZSTD_compress(stream.data(), stream.size(), src, data.size(), 3));
    rows.push_back({"zstd", kzb::zip::kMethodZstd, 0, std::move(stream), [](const Bytes& in, Bytes& out) {
                      return ZSTD_decompress(out.data(), out.size(), in.data(), in.size()) == out.size();
                    }});
  }
  return rows;
}

// Prints the decode rows of the other methods for one input; false when a decoder failed.
bool BenchMethods(const Input& input, const std::vector<std::string>& wanted, int reps) {
  const std::string data = Joined(input);
  const Bytes original(data.begin(), data.end());
  const double mb = static_cast<double>(data.size()) / 1e6;
  bool ok = true;
  for (MethodRow& row : MakeMethodRows(data, wanted)) {
    Bytes out(data.size());
    const auto best_of = [&](const std::function<bool()>& run) {
      double best = 1e30;
      for (int r = 0; r < reps; ++r) {
        std::fill(out.begin(), out.end(), 0);
        const double t0 = ThreadSeconds();
        const bool good = run();
        best = std::min(best, ThreadSeconds() - t0);
        if (!good || out != original) return -1.0;
      }
      return mb / best;
    };
    const double ours = best_of([&] { return OursDecode(row.method, row.flags, row.stream, out); });
    double other = 0;
    const char* other_name = "library";
    if (row.library) {
      other = best_of([&] { return row.library(row.stream, out); });
    } else {
      // Deflate64 beside our deflate inflater on zlib's stream of the same data.
      other_name = "ours deflate";
      const Streams zlib = ZlibCompress(Input{"", {original}, original.size()}, 6);
      std::vector<Bytes> outs(1, Bytes(original.size()));
      double best = 1e30;
      for (int r = 0; r < reps; ++r) {
        const double t0 = ThreadSeconds();
        const bool good = OursInflate(zlib, outs);
        best = std::min(best, ThreadSeconds() - t0);
        if (!good || outs[0] != original) best = 1e30;
      }
      other = best < 1e30 ? mb / best : -1.0;
    }
    if (ours < 0 || other < 0) {
      std::printf("!! %s %s: decode failed\n", input.name.c_str(), row.name.c_str());
      ok = false;
      continue;
    }
    std::printf("%-7s %-10s %12.1f %12.1f %-12s %9.4f   (ours / %s %.2fx)\n", input.name.c_str(), row.name.c_str(),
                ours, other, other_name, static_cast<double>(row.stream.size()) / static_cast<double>(data.size()),
                other_name, ours / other);
    std::fflush(stdout);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpus = "/tmp/kzb-corpus";
  std::size_t limit_mb = 64;
  std::vector<int> levels = {1, 6, 9};
  std::vector<std::string> parts = {"tree", "big", "random", "text"};
  int reps = 3;
  std::vector<std::string> engine_names = {"ours", "zlib", "libdeflate"};
  bool run_inflate = true;
  int comp_reps = 0;  // 0: --reps below level 6, one run from level 6 on (they are slow)
  auto split = [](const std::string& list) {
    std::vector<std::string> items;
    for (std::size_t start = 0; start <= list.size();) {
      const std::size_t comma = std::min(list.find(',', start), list.size());
      items.push_back(list.substr(start, comma - start));
      start = comma + 1;
    }
    return items;
  };
  std::vector<std::string> methods = {"deflate64", "bzip2", "lzma", "xz", "zstd"};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--corpus")
      corpus = argv[i + 1];
    else if (opt == "--limit-mb")
      limit_mb = std::strtoul(argv[i + 1], nullptr, 10);
    else if (opt == "--reps")
      reps = std::max(1, std::atoi(argv[i + 1]));
    else if (opt == "--inputs")
      parts = split(argv[i + 1]);
    else if (opt == "--engines")
      engine_names = split(argv[i + 1]);
    else if (opt == "--comp-reps")
      comp_reps = std::max(1, std::atoi(argv[i + 1]));
    else if (opt == "--no-inflate")
      run_inflate = std::atoi(argv[i + 1]) == 0;
    else if (opt == "--methods") {
      methods.clear();
      for (const std::string& m : split(argv[i + 1])) {
        if (!m.empty()) methods.push_back(m);
      }
    } else if (opt == "--levels") {
      levels.clear();
      for (const char* p = argv[i + 1]; *p;) {
        levels.push_back(std::atoi(p));
        while (*p && *p != ',') ++p;
        if (*p == ',') ++p;
      }
    } else {
      std::fprintf(stderr,
                   "usage: bench_codec [--corpus DIR] [--limit-mb N] [--levels 1,6,9] [--reps N] "
                   "[--inputs tree,big,random,text] [--engines ours,zlib,libdeflate] [--no-inflate 1] [--comp-reps N] "
                   "[--methods deflate64,bzip2,lzma,xz,zstd|none]\n");
      return 2;
    }
  }
  if (!fs::is_directory(fs::path(corpus) / "text")) {
    std::fprintf(stderr, "no corpus in %s: run /work/shared/bench/make-corpus.sh %s first\n", corpus.c_str(),
                 corpus.c_str());
    return 2;
  }

  const Engine all_engines[] = {
      {"ours", OursCompress, OursInflate},
      {"zlib", ZlibCompress, ZlibInflate},
      {"libdeflate", LibdeflateCompress, LibdeflateInflate},
  };
  std::vector<const Engine*> engines;
  for (const Engine& e : all_engines) {
    if (std::find(engine_names.begin(), engine_names.end(), e.name) != engine_names.end()) engines.push_back(&e);
  }
  if (engines.empty()) {
    std::fprintf(stderr, "no engine selected (ours, zlib, libdeflate)\n");
    return 2;
  }
  auto find_engine = [&](const char* name) -> int {
    for (std::size_t e = 0; e < engines.size(); ++e) {
      if (std::strcmp(engines[e]->name, name) == 0) return static_cast<int>(e);
    }
    return -1;
  };
  const int ours = find_engine("ours");
  const int zlib = find_engine("zlib");
  const int libdeflate = find_engine("libdeflate");
  if (zlib < 0) run_inflate = false;
  const std::size_t n = engines.size();

  std::printf("%-7s %5s %-11s %12s %12s %9s\n", "input", "level", "engine", "comp MB/s", "infl MB/s", "ratio");
  bool all_ok = true;
  for (const std::string& part_name : parts) {
    const char* part = part_name.c_str();
    const Input input = LoadInput(fs::path(corpus), part_name, limit_mb << 20);
    std::vector<Bytes> out;
    for (const Bytes& f : input.files) out.emplace_back(f.size());
    const double mb = static_cast<double>(input.total) / 1e6;
    for (int level : levels) {
      std::vector<Row> rows(n);
      std::vector<Streams> streams(n);
      std::vector<double> best(n, 1e30);
      // Engines take turns within each repetition, so a burst of load on the machine hits them alike.
      const int reps_here = comp_reps > 0 ? comp_reps : (level >= 6 ? 1 : reps);
      for (int r = 0; r < reps_here; ++r) {
        for (std::size_t e = 0; e < n; ++e) {
          const double t0 = ThreadSeconds();
          streams[e] = engines[e]->compress(input, level);
          best[e] = std::min(best[e], ThreadSeconds() - t0);
        }
      }
      for (std::size_t e = 0; e < n; ++e) {
        rows[e].compress_mbs = mb / best[e];
        rows[e].ratio = static_cast<double>(TotalSize(streams[e])) / static_cast<double>(input.total);
      }
      if (ours >= 0) {
        // Our entries may be stored whole (no deflate framing): check those as plain bytes.
        const Streams& ours_streams = streams[static_cast<std::size_t>(ours)];
        bool ok = true;
        Streams deflated;
        std::vector<Bytes> expect;
        for (std::size_t i = 0; i < ours_streams.size(); ++i) {
          if (g_ours_stored[i]) {
            ok = ok && ours_streams[i] == input.files[i];
            continue;
          }
          deflated.push_back(ours_streams[i]);
          expect.emplace_back(input.files[i].size());
        }
        ok = ok && ZlibInflate(deflated, expect);
        for (std::size_t i = 0, j = 0; ok && i < ours_streams.size(); ++i) {
          if (g_ours_stored[i]) continue;
          ok = expect[j++] == input.files[i];
        }
        if (!ok) {
          std::printf("!! %s level %d: our stream does not decode with zlib\n", part, level);
          all_ok = false;
        }
      }
      if (run_inflate) {
        const Streams& zlib_streams = streams[static_cast<std::size_t>(zlib)];
        for (std::size_t e = 0; e < n; ++e) {
          double best_inflate = 1e30;
          for (int r = 0; r < reps; ++r) {
            const double t0 = ThreadSeconds();
            const bool ok = engines[e]->inflate(zlib_streams, out);
            best_inflate = std::min(best_inflate, ThreadSeconds() - t0);
            if (!ok || !std::equal(out.begin(), out.end(), input.files.begin())) {
              std::printf("!! %s level %d: %s inflate failed\n", part, level, engines[e]->name);
              all_ok = false;
              break;
            }
          }
          rows[e].inflate_mbs = mb / best_inflate;
        }
      }
      for (std::size_t e = 0; e < n; ++e) {
        std::printf("%-7s %5d %-11s %12.1f %12.1f %9.5f\n", part, level, engines[e]->name, rows[e].compress_mbs,
                    rows[e].inflate_mbs, rows[e].ratio);
      }
      auto ratio_line = [&](int other, const char* label) {
        if (ours < 0 || other < 0) return;
        const Row& a = rows[static_cast<std::size_t>(ours)];
        const Row& b = rows[static_cast<std::size_t>(other)];
        std::printf("%-7s %5d %-11s %12.2fx %11.2fx %9.4f   (ours / %s)\n", part, level, "ratio",
                    a.compress_mbs / b.compress_mbs, run_inflate ? a.inflate_mbs / b.inflate_mbs : 0.0,
                    a.ratio / b.ratio, label);
      };
      ratio_line(zlib, "zlib");
      ratio_line(libdeflate, "libdeflate");
      std::fflush(stdout);
    }
  }
  if (!methods.empty() && methods.front() != "none") {
    std::printf("\n%-7s %-10s %12s %12s %-12s %9s\n", "input", "method", "ours MB/s", "other MB/s", "other", "ratio");
    for (const std::string& part_name : parts) {
      const Input input = LoadInput(fs::path(corpus), part_name, limit_mb << 20);
      if (!BenchMethods(input, methods, reps)) all_ok = false;
    }
  }
  return all_ok ? 0 : 1;
}
