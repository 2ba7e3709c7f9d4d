// kzb pack: the archive writer on the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_runner.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "zip/filelist/resolve_file_list.h"
#include "zip/writer/vcl_zip.h"
#include "zip/zip_errors.h"

namespace kzb::cli {

namespace {

struct PackOptions {
  std::string archive;
  int level = 6;
  std::string password;
  std::string encryption = "zipcrypto";
  bool recurse = false;
  bool folders = false;
  bool no_paths = false;
  std::string relative_to;
  std::vector<std::string> exclude;
  std::vector<std::string> store;
  std::string comment;
  bool comment_given = false;
  bool update = false;
  bool freshen = false;
  bool replace = false;
  std::int64_t volume_size = 0;
  int threads = 0;  // 0: one per core
  std::vector<std::string> paths;
};

int RunPack(const CommandState& state, const PackOptions& options, bool password_given) {
  CatchInterrupts();
  zip::TVCLZip zip;
  // Ctrl-C ends the run at the engine's next progress hook; the archive is then left as it was.
  zip.SetDoProcessMessages(true);
  zip.OnProcessMessages = [](zip::TVCLUnZip&) { ThrowIfInterrupted(); };
  zip.SetZipName(options.archive);
  zip.SetPackLevel(options.level);
  zip.SetThreads(options.threads);
  // A password from the file or the environment encrypts as --password does; pack never asks for one.
  zip.SetPassword(password_given ? options.password : PasswordFromFileOrEnvironment(state));
  zip.SetEncryption(options.encryption == "aes256" ? zip::TZipEncryption::zeAes256 : zip::TZipEncryption::zeZipCrypto);
  zip.SetRecurse(options.recurse);
  zip.SetAddDirEntriesOnRecurse(options.folders);
  zip.SetStorePaths(!options.no_paths);
  if (!options.relative_to.empty()) {
    zip.SetRootDir(platform::ExpandFileName(options.relative_to));
    zip.SetRelativePaths(true);
    zip.SetRecurse(options.recurse);
  }
  zip.SetExcludeList(options.exclude);
  zip.SetNoCompressList(options.store);
  if (options.freshen) zip.SetZipAction(zip::TZipAction::zaFreshen);
  if (options.replace) zip.SetZipAction(zip::TZipAction::zaReplace);
  if (options.volume_size > 0) {
    zip::TMultiZipInfo info;
    info.multi_mode = zip::TMultiMode::mmBlocks;
    info.block_size = options.volume_size;
    info.first_block_size = options.volume_size;
    zip.SetMultiZipInfo(info);
  }

  std::vector<std::string> files;
  for (const std::string& path : options.paths) {
    // Relative paths stay relative, so they are stored as written; absolute ones (and every path when
    // stored paths are relative to a folder, which is compared with the full path) are expanded, which
    // also folds "." and ".." steps.
    // A recursion prefix stays in front of the path.
    const bool prefixed = !path.empty() && (path[0] == '|' || path[0] == '>');
    std::string rest = prefixed ? path.substr(1) : path;
    if (platform::IsAbsolutePath(rest) || !options.relative_to.empty()) rest = platform::ExpandFileName(rest);
    const std::string entry = (prefixed ? path.substr(0, 1) : std::string()) + rest;
    files.push_back(zip::FolderAsPattern(entry));
  }
  zip.SetFilesList(files);

  int warnings = 0;
  zip.OnNoSuchFile = [&](zip::TVCLZip&, const std::string& name) {
    std::cerr << "kzb pack: warning: " << name << ": no such file\n";
    ++warnings;
  };
  zip.OnSkippingFile = [&](zip::TVCLUnZip&, zip::TSkipReason reason, const std::string& name, int, bool&) {
    if (reason == zip::kSkipDuplicateName) {
      std::cerr << "kzb pack: warning: " << name << ": an entry of that name is already in the archive\n";
    } else if (reason == zip::kSkipCannotList && !name.empty() && platform::IsPathSeparator(name.back())) {
      std::cerr << "kzb pack: warning: " << name << ": folder cannot be read, nothing in it added\n";
    } else {
      std::cerr << "kzb pack: warning: " << name << ": cannot be read, not added\n";
    }
    ++warnings;
  };
  ProgressLine progress(!state.quiet);
  if (progress.Enabled()) {
    zip.OnStartZipInfo = [&](zip::TVCLZip&, int, std::int64_t total_bytes, zip::TEndCentral&, bool&) {
      progress.SetTotal(total_bytes);
    };
    zip.OnStartZip = [&](zip::TVCLZip&, const std::string& name, zip::TZipHeaderInfo&, bool&) {
      progress.SetFile(name);
    };
    zip.OnTotalPercentDone = [&](zip::TVCLUnZip&, int percent) { progress.SetPercent(percent); };
  }

  int added = 0;
  try {
    if (options.comment_given) zip.SetZipComment(options.comment);
    added = zip.Zip();
  } catch (const zip::EZipEngineError& error) {
    // The engine's fixed messages do not say which archive they are about.
    progress.Finish();
    if (Interrupted()) return kExitCancelled;
    std::cerr << "kzb pack: " << options.archive << ": " << error.what() << "\n";
    return kExitError;
  } catch (const std::exception& error) {
    progress.Finish();
    std::cerr << "kzb pack: " << error.what() << "\n";
    return kExitError;
  }
  progress.Finish();
  std::printf("%d file%s added to %s\n", added, added == 1 ? "" : "s", zip.ZipName().c_str());
  if (warnings > 0) {
    std::cerr << "kzb pack: " << warnings << (warnings == 1 ? " file or folder" : " files or folders")
              << " could not be added\n";
    return kExitError;
  }
  return kExitOk;
}

}  // namespace

void AddPackCommand(CLI::App& app, CommandState& state) {
  auto options = std::make_shared<PackOptions>();
  CLI::App* pack = app.add_subcommand("pack", "Create or update a ZIP archive from files and folders");
  pack->footer(
      "Each PATH is a file, a folder (all files in it) or a folder followed by a mask, e.g. src/*.cpp.\n"
      "Masks know * and ?, sets like <a-z> or <!0-9>; a leading | or > turns searching subfolders off or on\n"
      "for that PATH. An existing ARCHIVE is updated: entries whose files are newer are replaced, the others\n"
      "are kept, new files are added. The archive is replaced only when the new one is complete.\n"
      "Exit status: 0 when every file was added, 1 on an error or when some files could not be added (the\n"
      "archive then holds the others), 2 for a usage error, 130 when cancelled with Ctrl-C (the archive is\n"
      "then left as it was).");
  pack->add_option("ARCHIVE", options->archive, "Archive to create or update")->required();
  pack->add_option("--level", options->level, "Compression level: 0 stores, 1 fastest .. 9 smallest (default 6)")
      ->check(CLI::Range(0, 9));
  auto* password =
      pack->add_option("--password", options->password,
                       "Encrypt every file with this password (traditional ZIP encryption unless --encryption aes256); "
                       "--password-file or KZB_PASSWORD keep it out of the process list");
  pack->add_option("--encryption", options->encryption,
                   "Cipher of --password: zipcrypto (traditional, weak; default) or aes256 (WinZip AES-256)")
      ->check(CLI::IsMember({"aes256", "zipcrypto"}));
  pack->add_flag("--recurse", options->recurse, "Search subfolders of every folder and mask");
  pack->add_flag("--folders", options->folders,
                 "With --recurse, add an entry for every folder searched (keeps empty folders, their times and "
                 "permissions)");
  pack->add_flag("--no-paths", options->no_paths, "Store file names only, without their folders");
  pack->add_option("--relative-to", options->relative_to,
                   "Store paths relative to this folder (files elsewhere keep their full path)");
  pack->add_option("--exclude", options->exclude,
                   "Leave out files matching this pattern (repeatable; a pattern with / is tried on the whole path)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  pack->add_option("--store", options->store,
                   "Store files whose names match this pattern without compression (repeatable)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  pack->add_option("--comment", options->comment, "Archive comment");
  auto* update =
      pack->add_flag("--update", options->update, "Replace entries whose files are newer, add new files (the default)");
  auto* freshen =
      pack->add_flag("--freshen", options->freshen, "Only replace entries whose files are newer; add nothing new");
  auto* replace =
      pack->add_flag("--replace", options->replace, "Replace matching entries even when their files are older");
  update->excludes(freshen)->excludes(replace);
  freshen->excludes(replace);
  pack->add_option("--volume-size", options->volume_size,
                   "Split the archive into numbered volumes of this many bytes (at least 65536)")
      ->check(CLI::Range(static_cast<std::int64_t>(zip::TVCLZip::kMinVolumeSize), INT64_MAX));
  pack->add_option("--threads", options->threads, "Compress on this many threads (default: one per core)")
      ->check(CLI::Range(1, 256));
  pack->add_option("PATH", options->paths, "Files, folders or folder/mask entries to add")->required();
  pack->callback([options, pack, password, &state]() {
    options->comment_given = pack->count("--comment") > 0;
    RunCommand(
        state, [&] { return RunPack(state, *options, password->count() > 0); }, "kzb pack: ");
  });
}

}  // namespace kzb::cli
