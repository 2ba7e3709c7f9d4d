// kzb list / test / extract: the archive reader driven directly.
//
// Archives without a usable end record are read through the local-header scan, so a cut-off archive still
// lists, tests and extracts what it holds. Engine errors print their message (with the archive's name) to
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
#include "zip/reader/vcl_unzip.h"
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

std::string EntryFullName(TVCLUnZip& reader, int index) {
  return reader.EntryPath(index) + reader.EntryName(index);
}

std::string SkipText(zip::TSkipReason reason) {
  switch (reason) {
    case zip::TSkipReason::srBadPassword: return "wrong password";
    case zip::TSkipReason::srNoOverwrite: return "existing file kept";
    case zip::TSkipReason::srFileOpenError: return "cannot create the output file";
    case zip::TSkipReason::srUnsafePath: return "path leads outside the destination folder";
    case zip::TSkipReason::srBadData: return "damaged data";
  }
  return "skipped";
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
    total_compressed += entry.CompressedSize();
    total_uncompressed += entry.UncompressedSize();
  }
  std::cout << count << (count == 1 ? " entry, " : " entries, ") << total_compressed << " bytes compressed, "
            << total_uncompressed << " bytes uncompressed\n";
  const std::string comment = reader.ZipComment();
  if (!comment.empty()) std::cout << comment << "\n";
  return kExitOk;
}

int RunTest(const std::string& archive, const std::string& password) {
  TVCLUnZip reader;
  PrepareReader(reader, archive);
  reader.SetPassword(password);
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  int failures = 0;
  reader.OnBadCRC = [&](TVCLUnZip& r, std::uint32_t calc, std::uint32_t stored, int index) {
    char text[96];
    std::snprintf(text, sizeof text, ": CRC error (computed %08x, stored %08x)", calc, stored);
    std::cout << EntryFullName(r, index) << text << "\n";
    ++failures;
  };
  reader.OnSkippingFile = [&](TVCLUnZip&, zip::TSkipReason reason, const std::string& fname, int, bool&) {
    std::cout << fname << ": " << SkipText(reason) << "\n";
    ++failures;
  };
  const int passed = reader.Test();
  if (failures == 0) {
    std::cout << "All " << passed << (passed == 1 ? " entry" : " entries") << " OK\n";
    return kExitOk;
  }
  std::cout << failures << " of " << (passed + failures) << " entries failed\n";
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

int RunExtract(const ExtractOptions& options) {
  TVCLUnZip reader;
  PrepareReader(reader, options.archive);
  reader.SetDestDir(options.dest.empty() ? "." : options.dest);
  reader.SetRecreateDirs(!options.no_folders);
  reader.SetPassword(options.password);
  if (options.overwrite == "always") {
    reader.SetOverwriteMode(zip::TUZOverwriteMode::Always);
  } else if (options.overwrite == "never") {
    reader.SetOverwriteMode(zip::TUZOverwriteMode::Never);
  } else if (options.overwrite == "newer") {
    reader.SetOverwriteMode(zip::TUZOverwriteMode::ifNewer);
  } else if (options.overwrite == "older") {
    reader.SetOverwriteMode(zip::TUZOverwriteMode::ifOlder);
  } else {
    reader.SetOverwriteMode(zip::TUZOverwriteMode::Prompt);
  }
  if (options.patterns.empty()) {
    reader.SetDoAll(true);
  } else {
    reader.SetFilesList(options.patterns);
  }
  const bool interactive = isatty(STDIN_FILENO) != 0;
  reader.OnPromptForOverwrite = [&](TVCLUnZip&, bool& overwrite, int, std::string& fname) {
    overwrite = false;
    if (!interactive) return;
    std::cerr << "Replace existing file " << fname << "? [y/n] " << std::flush;
    std::string answer;
    if (std::getline(std::cin, answer) && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y')) {
      overwrite = true;
    }
  };
  int failures = 0;
  reader.OnBadCRC = [&](TVCLUnZip& r, std::uint32_t calc, std::uint32_t stored, int index) {
    char text[96];
    std::snprintf(text, sizeof text, ": CRC error (computed %08x, stored %08x), not extracted", calc, stored);
    std::cerr << EntryFullName(r, index) << text << "\n";
    ++failures;
  };
  reader.OnSkippingFile = [&](TVCLUnZip&, zip::TSkipReason reason, const std::string& fname, int, bool&) {
    std::cerr << fname << ": " << SkipText(reason) << "\n";
    if (reason != zip::TSkipReason::srNoOverwrite) ++failures;
  };
  const int extracted = reader.UnZip();
  std::cout << extracted << (extracted == 1 ? " entry" : " entries") << " extracted\n";
  return failures == 0 ? kExitOk : kExitError;
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
