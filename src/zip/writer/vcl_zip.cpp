#include "zip/writer/vcl_zip.h"

#include <algorithm>

#include "zip/filelist/pattern_list.h"
#include "zip/writer/zip_run.h"

namespace kzb::zip {

namespace {

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

}  // namespace

TVCLZip::TVCLZip() = default;

TVCLZip::~TVCLZip() = default;

void TVCLZip::SetPackLevel(int level) {
  pack_level_ = std::clamp(level, 0, 9);
}

void TVCLZip::SetStorePaths(bool on) {
  store_paths_ = on;
  if (!on) {
    store_volumes_ = false;
    relative_paths_ = false;
  }
}

void TVCLZip::SetRelativePaths(bool on) {
  relative_paths_ = on;
  if (on) {
    store_paths_ = true;
    recurse_ = true;
  }
}

void TVCLZip::SetStoreVolumes(bool on) {
  store_volumes_ = on;
  if (on) store_paths_ = true;
}

void TVCLZip::SetMultiZipInfo(const TMultiZipInfo& info) {
  multi_zip_info_ = info;
  check_disk_labels_ = info.check_disk_labels;
}

void TVCLZip::SetCheckDiskLabels(bool on) {
  check_disk_labels_ = on;
  multi_zip_info_.check_disk_labels = on;
}

bool TVCLZip::IsExcluded(const std::string& path) const {
  return zip::IsExcluded(exclude_list_, path);
}

bool TVCLZip::IsNoCompress(const std::string& path) const {
  return zip::IsNoCompress(no_compress_list_, path);
}

void TVCLZip::SetZipName(const std::string& name) {
  if (name == ZipName()) return;
  // A comment changed on the current archive and not written by a run yet is stored first.
  if (Archive().EndRecord().CommentModified() && !IsBlank(ZipName())) {
    FilesList().clear();
    RunWriter();
    Archive().EndRecord().SetCommentModified(false);
  }
  carry_comment_ = false;
  TVCLUnZip::SetZipName(name);
}

int TVCLZip::RunWriter() {
  if (IsBlank(ZipName())) {
    FilesList().clear();
    return 0;
  }
  ZipRun run(*this);
  return run.Execute();
}

int TVCLZip::Zip() {
  const int count = RunWriter();
  if (OnZipComplete) OnZipComplete(*this, count);
  return count;
}

void TVCLZip::Assign(const TVCLZip& source) {
  if (&source == this) return;
  TVCLUnZip::Assign(source);
  pack_level_ = source.pack_level_;
  recurse_ = source.recurse_;
  dispose_ = source.dispose_;
  store_paths_ = source.store_paths_;
  relative_paths_ = source.relative_paths_;
  store_volumes_ = source.store_volumes_;
  zip_action_ = source.zip_action_;
  encryption_ = source.encryption_;
  SetMultiZipInfo(source.multi_zip_info_);
  store83_names_ = source.store83_names_;
  temp_path_ = source.temp_path_;
  skip_if_archive_bit_not_set_ = source.skip_if_archive_bit_not_set_;
  reset_archive_bit_on_zip_ = source.reset_archive_bit_on_zip_;
  exclude_list_ = source.exclude_list_;
  no_compress_list_ = source.no_compress_list_;
  add_dir_entries_on_recurse_ = source.add_dir_entries_on_recurse_;
  SetPassword(source.Password());
  OnStartZipInfo = source.OnStartZipInfo;
  OnStartZip = source.OnStartZip;
  OnEndZip = source.OnEndZip;
  OnDisposeFile = source.OnDisposeFile;
  OnDeleteEntry = source.OnDeleteEntry;
  OnNoSuchFile = source.OnNoSuchFile;
  OnZipComplete = source.OnZipComplete;
  OnUpdate = source.OnUpdate;
  OnPrepareNextDisk = source.OnPrepareNextDisk;
  OnRecursingFile = source.OnRecursingFile;
}

}  // namespace kzb::zip
