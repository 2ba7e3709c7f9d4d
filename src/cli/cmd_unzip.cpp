// kzb list / test / extract: the archive reader driven directly.
//
// Archives without a usable end record are read through the local-header scan, so a cut-off archive still
// lists, tests and extracts what it holds; but a damaged archive is never passed off as a good one: what
// the reader found wrong (the missing directory, the entries recovered, truncated or lost, a count that
// disagrees) is printed on standard error and the command ends with kExitDamaged. Names are printed with
// their control characters escaped. Engine errors print their message (with the archive's name) to
// standard error and end the command with status 1.
#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/commands.h"
#include "zip/filelist/match_pattern.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/ascii_text.h"
#include "zip/records/name_codec.h"
#include "zip/records/zip_format.h"

namespace kzb::cli {

namespace {

using zip::TVCLUnZip;

std::string MethodName(std::uint16_t method) {
  switch (method) {
    case zip::kMethodStored: return "stored";
    case zip::kMethodShrunk: return "shrunk";
    case zip::kMethodReduced1: return "reduce1";
    case zip::kMethodReduced2: return "reduce2";
    case zip::kMethodReduced3: return "reduce3";
    case zip::kMethodReduced4: return "reduce4";
    case zip::kMethodImploded: return "implode";
    case zip::kMethodDeflated: return "deflate";
    default: return "m" + std::to_string(method);
  }
}

// The method that decodes the entry, and its cipher when it is encrypted ("deflate+AES256",
// "stored+ZipCrypto").
std::string MethodName(const zip::TZipHeaderInfo& entry) {
  std::string name = MethodName(entry.DataMethod());
  if (entry.IsAes()) {
    name += "+AES" + std::to_string(64 + 64 * entry.AesStrength());
  } else if (entry.IsEncrypted()) {
    name += "+ZipCrypto";
  }
  return name;
}

// A reader set up for the command line: damaged archives are rebuilt from their local headers.
void PrepareReader(TVCLUnZip& reader, const std::string& archive) {
  reader.SetZipName(archive);
  reader.SetDoProcessMessages(false);
  reader.OnInCompleteZip = [](TVCLUnZip&, zip::TIncompleteZipMode& mode) {
    mode = zip::TIncompleteZipMode::izAssumeBad;
  };
  reader.OnAlert = [](TVCLUnZip&, const std::string& text, const std::string&) {
    std::cerr << "kzb: " << text << "\n";
  };
}

std::string EntryFullName(const TVCLUnZip& reader, int index) {
  return zip::PrintableName(reader.EntryPath(index) + reader.EntryName(index));
}

// Prints what the reader found wrong with the archive; true when it is damaged.
bool ReportDamage(const TVCLUnZip& reader) {
  for (const std::string& line : reader.Report().Lines(reader.Count())) std::cerr << line << "\n";
  return reader.ArchiveDamaged();
}

int RunList(const std::string& archive) {
  TVCLUnZip reader;
  PrepareReader(reader, archive);
  reader.ReadZip();
  std::int64_t total_compressed = 0;
  std::int64_t total_uncompressed = 0;
  const int count = reader.Count();
  for (int i = 0; i < count; ++i) {
    const zip::TZipHeaderInfo& entry = reader.EntryInfo(i);
    char line[160];
    std::snprintf(line, sizeof line, "%-8s %12lld %12lld  %08x  %s  ", MethodName(entry).c_str(),
                  static_cast<long long>(entry.CompressedSize()), static_cast<long long>(entry.UncompressedSize()),
                  entry.Crc32(), reader.EntryDateTime(i).FormatDateTime().c_str());
    std::cout << line << EntryFullName(reader, i) << "\n";
    total_compressed = zip::AddSaturating(total_compressed, entry.CompressedSize());
    total_uncompressed = zip::AddSaturating(total_uncompressed, entry.UncompressedSize());
  }
  std::cout << count << (count == 1 ? " entry, " : " entries, ") << total_compressed << " bytes compressed, "
            << total_uncompressed << " bytes uncompressed\n";
  const std::string comment = reader.ZipComment();
  if (!comment.empty()) std::cout << comment << "\n";
  return ReportDamage(reader) ? kExitDamaged : kExitOk;
}

// Reports every entry that fails (counting them) through the reader's events.
void ReportEntryFailures(TVCLUnZip& reader, std::ostream& out, const std::string& crc_suffix, int& failures) {
  reader.OnBadCRC = [&out, crc_suffix, &failures](TVCLUnZip& r, std::uint32_t calc, std::uint32_t stored,
                                                 int index) {
    char text[96];
    std::snprintf(text, sizeof text, ": CRC error (computed %08x, stored %08x)", calc, stored);
    out << EntryFullName(r, index) << text << crc_suffix << "\n";
    ++failures;
  };
  reader.OnSkippingFile = [&out, &failures](TVCLUnZip& r, zip::TSkipReason reason, const std::string& fname,
                                            int index, bool&) {
    out << zip::PrintableName(fname) << ": " << zip::SkipReasonText(r, reason, index);
    if (reason == zip::TSkipReason::srPasswordNeeded) out << " (--password)";
    out << "\n";
    if (reason != zip::TSkipReason::srNoOverwrite) ++failures;
  };
}

int RunTest(const std::string& archive, const std::string& password) {
  TVCLUnZip reader;
  PrepareReader(reader, archive);
  reader.SetPassword(password);
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  int failures = 0;
  ReportEntryFailures(reader, std::cout, "", failures);
  const int passed = reader.Test();
  const bool damaged = ReportDamage(reader);
  if (failures == 0 && !damaged) {
    std::cout << "All " << passed << (passed == 1 ? " entry" : " entries") << " OK\n";
    return kExitOk;
  }
  if (failures != 0) std::cout << failures << " of " << (passed + failures) << " entries failed\n";
  if (damaged) {
    std::cout << passed << (passed == 1 ? " entry" : " entries") << " OK in a damaged archive\n";
    return kExitDamaged;
  }
  return kExitError;
}

struct ExtractOptions {
  std::string archive;
  std::string dest;
  std::string overwrite = "prompt";
  bool no_folders = false;
  std::string password;
  std::vector<std::string> patterns;
};

zip::TUZOverwriteMode OverwriteModeOf(const std::string& text) {
  if (text == "always") return zip::TUZOverwriteMode::Always;
  if (text == "never") return zip::TUZOverwriteMode::Never;
  if (text == "newer") return zip::TUZOverwriteMode::ifNewer;
  if (text == "older") return zip::TUZOverwriteMode::ifOlder;
  return zip::TUZOverwriteMode::Prompt;
}

// The patterns that match no entry of the archive (compared as the extraction compares them).
std::vector<std::string> UnmatchedPatterns(TVCLUnZip& reader, const std::vector<std::string>& patterns) {
  std::vector<std::string> unmatched;
  for (const std::string& pattern : patterns) {
    bool matched = false;
    for (int i = 0; i < reader.Count() && !matched; ++i) {
      matched = zip::MatchPattern(zip::LowerAscii(pattern),
                                  zip::LowerAscii(reader.EntryPath(i) + reader.EntryName(i)));
    }
    if (!matched) unmatched.push_back(pattern);
  }
  return unmatched;
}

int RunExtract(const ExtractOptions& options) {
  TVCLUnZip reader;
  PrepareReader(reader, options.archive);
  reader.SetDestDir(options.dest.empty() ? "." : options.dest);
  reader.SetRecreateDirs(!options.no_folders);
  reader.SetPassword(options.password);
  reader.SetOverwriteMode(OverwriteModeOf(options.overwrite));
  std::vector<std::string> unmatched;
  if (options.patterns.empty()) {
    reader.SetDoAll(true);
  } else {
    reader.ReadZip();
    unmatched = UnmatchedPatterns(reader, options.patterns);
    for (const std::string& pattern : unmatched) {
      std::cerr << "kzb: no entry matches '" << zip::PrintableName(pattern) << "'\n";
    }
    reader.SetFilesList(options.patterns);
  }
  const bool interactive = isatty(STDIN_FILENO) != 0;
  reader.OnPromptForOverwrite = [&](TVCLUnZip&, bool& overwrite, int, std::string& fname) {
    overwrite = false;
    if (!interactive) return;
    std::cerr << "Replace existing file " << zip::PrintableName(fname) << "? [y/n] " << std::flush;
    std::string answer;
    if (std::getline(std::cin, answer) && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) {
      overwrite = true;
    }
  };
  int failures = 0;
  ReportEntryFailures(reader, std::cerr, ", not extracted", failures);
  const int extracted = unmatched.size() == options.patterns.size() && !options.patterns.empty() ? 0 : reader.UnZip();
  std::cout << extracted << (extracted == 1 ? " entry" : " entries") << " extracted\n";
  if (ReportDamage(reader)) return kExitDamaged;
  return failures == 0 && unmatched.empty() ? kExitOk : kExitError;
}

// Runs a command body, turning engine and file errors into a message and status 1.
template <typename Body>
int Guarded(const std::string& archive, Body body) {
  try {
    return body();
  } catch (const std::exception& e) {
    std::cerr << "kzb: " << archive << ": " << e.what() << "\n";
    return kExitError;
  }
}

}  // namespace

void AddArchiveReadCommands(CLI::App& app, CommandState& state) {
  auto archive = std::make_shared<std::string>();
  auto* list = app.add_subcommand("list", "List the entries of an archive");
  list->add_option("archive", *archive, "The archive")->required();
  list->callback([&state, archive] { state.exit_code = Guarded(*archive, [&] { return RunList(*archive); }); });

  auto password = std::make_shared<std::string>();
  auto test_archive = std::make_shared<std::string>();
  auto* test = app.add_subcommand("test", "Verify the CRC of every entry of an archive");
  test->add_option("archive", *test_archive, "The archive")->required();
  test->add_option("--password", *password, "Password of encrypted entries");
  test->callback([&state, test_archive, password] {
    state.exit_code = Guarded(*test_archive, [&] { return RunTest(*test_archive, *password); });
  });

  auto options = std::make_shared<ExtractOptions>();
  auto* extract = app.add_subcommand("extract", "Extract entries of an archive");
  extract->add_option("archive", options->archive, "The archive")->required();
  extract->add_option("patterns", options->patterns, "Entries to extract (wildcards * ? <set>); all when none");
  extract->add_option("--dest", options->dest, "Destination folder (default: the current folder)");
  extract->add_option("--overwrite", options->overwrite, "What to do with existing files")
      ->check(CLI::IsMember({"prompt", "always", "never", "newer", "older"}));
  extract->add_flag("--no-folders", options->no_folders, "Extract every file into the destination folder itself");
  extract->add_option("--password", options->password, "Password of encrypted entries");
  extract->callback([&state, options] {
    state.exit_code = Guarded(options->archive, [&] { return RunExtract(*options); });
  });
}

}  // namespace kzb::cli
