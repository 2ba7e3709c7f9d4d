// kzb list / test / extract: the archive reader driven directly.
//
// Archives without a usable end record are read through the local-header scan, so a cut-off archive still
// lists, tests and extracts what it holds; but a damaged archive is never passed off as a good one: what
// the reader found wrong (the missing directory, the entries recovered, truncated or lost, a count that
// disagrees) is printed on standard error and the command ends with kExitDamaged. Names are printed with
// their control characters escaped. Engine errors print their message (with the archive's name) to
// standard error and end the command with status 1.
#include <CLI/CLI.hpp>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/terminal.h"
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
    case zip::kMethodStored:
      return "stored";
    case zip::kMethodShrunk:
      return "shrunk";
    case zip::kMethodReduced1:
      return "reduce1";
    case zip::kMethodReduced2:
      return "reduce2";
    case zip::kMethodReduced3:
      return "reduce3";
    case zip::kMethodReduced4:
      return "reduce4";
    case zip::kMethodImploded:
      return "implode";
    case zip::kMethodDeflated:
      return "deflate";
    case zip::kMethodDeflate64:
      return "deflate64";
    case zip::kMethodBzip2:
      return "bzip2";
    case zip::kMethodLzma:
      return "lzma";
    case zip::kMethodZstd:
      return "zstd";
    case zip::kMethodXz:
      return "xz";
    case zip::kMethodPpmd:
      return "ppmd";
    default:
      return "m" + std::to_string(method);
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

// A reader set up for the command line: damaged archives are rebuilt from their local headers; Ctrl-C
// ends a run at the engine's next progress hook.
void PrepareReader(TVCLUnZip& reader, const std::string& archive) {
  reader.SetZipName(archive);
  reader.SetDoProcessMessages(true);
  reader.OnProcessMessages = [](TVCLUnZip&) { ThrowIfInterrupted(); };
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

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

int RunListJson(TVCLUnZip& reader, const std::string& archive) {
  Json entries = Json::array();
  std::int64_t total_compressed = 0;
  std::int64_t total_uncompressed = 0;
  for (int i = 0; i < reader.Count(); ++i) {
    const zip::TZipHeaderInfo& entry = reader.EntryInfo(i);
    entries.push_back({{"name", reader.EntryPath(i) + reader.EntryName(i)},
                       {"method", MethodName(entry)},
                       {"compressed_size", entry.CompressedSize()},
                       {"size", entry.UncompressedSize()},
                       {"crc32", Hex32(entry.Crc32())},
                       {"modified", reader.EntryDateTime(i).FormatDateTime()},
                       {"encrypted", entry.IsEncrypted()}});
    total_compressed = zip::AddSaturating(total_compressed, entry.CompressedSize());
    total_uncompressed = zip::AddSaturating(total_uncompressed, entry.UncompressedSize());
  }
  const std::vector<std::string> problems = reader.Report().Lines(reader.Count());
  PrintJson({{"archive", archive},
             {"entries", entries},
             {"count", reader.Count()},
             {"compressed_size", total_compressed},
             {"size", total_uncompressed},
             {"comment", reader.ZipComment()},
             {"damaged", reader.ArchiveDamaged()},
             {"problems", problems}});
  return reader.ArchiveDamaged() ? kExitDamaged : kExitOk;
}

int RunList(const std::string& archive, bool json) {
  TVCLUnZip reader;
  PrepareReader(reader, archive);
  reader.ReadZip();
  if (json) return RunListJson(reader, archive);
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
// The progress line is erased before each report and drawn again with the next progress.
void ReportEntryFailures(TVCLUnZip& reader, std::ostream& out, const std::string& crc_suffix, int& failures,
                         ProgressLine& progress) {
  reader.OnBadCRC = [&out, crc_suffix, &failures, &progress](TVCLUnZip& r, std::uint32_t calc, std::uint32_t stored,
                                                             int index) {
    progress.Finish();
    char text[96];
    std::snprintf(text, sizeof text, ": CRC error (computed %08x, stored %08x)", calc, stored);
    out << EntryFullName(r, index) << text << crc_suffix << "\n";
    ++failures;
  };
  reader.OnSkippingFile = [&out, &failures, &progress](TVCLUnZip& r, zip::TSkipReason reason, const std::string& fname,
                                                       int index, bool&) {
    progress.Finish();
    out << zip::PrintableName(fname) << ": " << zip::SkipReasonText(r, reason, index);
    if (reason == zip::TSkipReason::srPasswordNeeded) out << " (--password)";
    out << "\n";
    if (reason != zip::TSkipReason::srNoOverwrite) ++failures;
  };
}

// Shows the run's progress on the line.
void ShowProgress(TVCLUnZip& reader, ProgressLine& progress) {
  if (!progress.Enabled()) return;
  reader.OnStartUnZipInfo = [&progress](TVCLUnZip&, int, std::int64_t total_bytes, bool&) {
    progress.SetTotal(total_bytes);
  };
  reader.OnStartUnZip = [&progress](TVCLUnZip&, int, std::string& fname, bool&) {
    progress.SetFile(zip::PrintableName(fname));
  };
  reader.OnTotalPercentDone = [&progress](TVCLUnZip&, int percent) { progress.SetPercent(percent); };
}

bool AnyEncrypted(TVCLUnZip& reader) {
  for (int i = 0; i < reader.Count(); ++i) {
    if (reader.EntryInfo(i).IsEncrypted()) return true;
  }
  return false;
}

// The password: the one given, else (when the archive holds encrypted entries) the file, the environment
// or the terminal's answer.
void SetPassword(TVCLUnZip& reader, const CommandState& state, bool given, const std::string& password) {
  if (given) {
    reader.SetPassword(password);
    return;
  }
  reader.ReadZip();
  if (AnyEncrypted(reader)) reader.SetPassword(PasswordToOpen(state, false, ""));
}

int RunTest(const CommandState& state, const std::string& archive, bool password_given, const std::string& password,
            int threads) {
  CatchInterrupts();
  TVCLUnZip reader;
  PrepareReader(reader, archive);
  reader.SetThreads(threads);
  SetPassword(reader, state, password_given, password);
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  int failures = 0;
  ProgressLine progress(!state.quiet);
  ShowProgress(reader, progress);
  ReportEntryFailures(reader, std::cout, "", failures, progress);
  const int passed = reader.Test();
  progress.Finish();
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
  bool password_given = false;
  int threads = 0;  // 0: one per core
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
      matched = zip::MatchPattern(zip::LowerAscii(pattern), zip::LowerAscii(reader.EntryPath(i) + reader.EntryName(i)));
    }
    if (!matched) unmatched.push_back(pattern);
  }
  return unmatched;
}

int RunExtract(const CommandState& state, const ExtractOptions& options) {
  CatchInterrupts();
  TVCLUnZip reader;
  PrepareReader(reader, options.archive);
  reader.SetDestDir(options.dest.empty() ? "." : options.dest);
  reader.SetRecreateDirs(!options.no_folders);
  SetPassword(reader, state, options.password_given, options.password);
  reader.SetOverwriteMode(OverwriteModeOf(options.overwrite));
  reader.SetThreads(options.threads);
  // Files an earlier extraction made read-only follow the overwrite rule like any other.
  reader.SetReplaceReadOnly(true);
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
  ProgressLine progress(!state.quiet);
  ShowProgress(reader, progress);
  reader.OnPromptForOverwrite = [&](TVCLUnZip&, bool& overwrite, int, std::string& fname) {
    overwrite = false;
    if (!interactive) return;
    progress.Finish();
    std::cerr << "Replace existing file " << zip::PrintableName(fname) << "? [y/n] " << std::flush;
    std::string answer;
    if (std::getline(std::cin, answer) && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) {
      overwrite = true;
    }
  };
  int failures = 0;
  ReportEntryFailures(reader, std::cerr, ", not extracted", failures, progress);
  const int extracted = unmatched.size() == options.patterns.size() && !options.patterns.empty() ? 0 : reader.UnZip();
  progress.Finish();
  std::cout << extracted << (extracted == 1 ? " entry" : " entries") << " extracted\n";
  if (ReportDamage(reader)) return kExitDamaged;
  return failures == 0 && unmatched.empty() ? kExitOk : kExitError;
}

}  // namespace

void AddArchiveReadCommands(CLI::App& app, CommandState& state) {
  auto archive = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto* list = app.add_subcommand("list", "List the entries of an archive");
  list->add_option("archive", *archive, "The archive")->required();
  list->add_flag("--json", *json, "One JSON document (see below)");
  list->footer(
      "Columns: method (+cipher), compressed size, size, CRC-32, modified, name.\n"
      "--json: {archive, entries: [{name, method, compressed_size, size, crc32, modified, encrypted}],\n"
      "count, compressed_size, size, comment, damaged, problems: [text]}; sizes in bytes, crc32 as 8 hex\n"
      "digits, modified as \"yyyy-mm-dd HH:mm:ss\" local time.");
  list->callback([&state, archive, json] {
    RunCommand(
        state, [&] { return RunList(*archive, *json); }, "kzb: " + *archive + ": ");
  });

  auto password = std::make_shared<std::string>();
  auto test_archive = std::make_shared<std::string>();
  auto* test = app.add_subcommand("test", "Verify the CRC of every entry of an archive");
  test->add_option("archive", *test_archive, "The archive")->required();
  auto* test_password = test->add_option("--password", *password, "Password of encrypted entries");
  auto test_threads = std::make_shared<int>(0);
  test->add_option("--threads", *test_threads, "Decompress on this many threads (default: one per core)")
      ->check(CLI::Range(1, 256));
  test->callback([&state, test_archive, password, test_password, test_threads] {
    RunCommand(
        state, [&] { return RunTest(state, *test_archive, test_password->count() > 0, *password, *test_threads); },
        "kzb: " + *test_archive + ": ");
  });

  auto options = std::make_shared<ExtractOptions>();
  auto* extract = app.add_subcommand("extract", "Extract entries of an archive");
  extract->add_option("archive", options->archive, "The archive")->required();
  extract->add_option("patterns", options->patterns, "Entries to extract (wildcards * ? <set>); all when none");
  extract->add_option("--dest", options->dest, "Destination folder (default: the current folder)");
  extract->add_option("--overwrite", options->overwrite, "What to do with existing files")
      ->check(CLI::IsMember({"prompt", "always", "never", "newer", "older"}));
  extract->add_flag("--no-folders", options->no_folders, "Extract every file into the destination folder itself");
  auto* extract_password = extract->add_option("--password", options->password, "Password of encrypted entries");
  extract->add_option("--threads", options->threads, "Decompress on this many threads (default: one per core)")
      ->check(CLI::Range(1, 256));
  extract->callback([&state, options, extract_password] {
    options->password_given = extract_password->count() > 0;
    RunCommand(
        state, [&] { return RunExtract(state, *options); }, "kzb: " + options->archive + ": ");
  });
}

}  // namespace kzb::cli
