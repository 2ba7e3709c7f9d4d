#include "app/restore/archive_listing.h"

#include <exception>
#include <utility>

#include "app/common/text_utils.h"
#include "app/project/archive_naming.h"
#include "app/project/project_fields.h"
#include "findfile/find_file.h"
#include "platform/path.h"
#include "zip/reader/vcl_unzip.h"

namespace kzb::app {

namespace {

// The row's date text: date and time, or the date alone when the time is exactly midnight.
std::string DateText(platform::DateTime moment) {
  platform::DateTimeParts parts = moment.Parts();
  if (parts.hour == 0 && parts.minute == 0 && parts.second == 0) return moment.FormatDate();
  return moment.FormatDateTime();
}

// The moment to the whole second, as the date text shows it.
platform::DateTime ToSecond(platform::DateTime moment) {
  platform::DateTimeParts parts = moment.Parts();
  parts.millisecond = 0;
  return platform::DateTime::FromParts(parts);
}

// "greater" of the exchange sort: row a's key is greater than row b's.
bool KeyGreater(const ArchiveRow& a, const ArchiveRow& b, SortField field) {
  switch (field) {
    case SortField::kName:
      return a.name.compare(b.name) > 0;  // byte by byte, as unsigned characters
    case SortField::kSize:
      return a.size_key > b.size_key;
    case SortField::kDate:
      return a.date_key > b.date_key;
  }
  return false;
}

}  // namespace

void SortArchiveRows(std::vector<ArchiveRow>& rows, SortField field, bool descending) {
  const std::size_t count = rows.size();
  for (std::size_t q = count; q-- > 1;) {
    for (std::size_t r = 0; r < q; ++r) {
      const bool greater = KeyGreater(rows[r], rows[q], field);
      if (descending ? !greater : greater) std::swap(rows[r], rows[q]);
    }
  }
}

std::vector<EntryRow> ReadArchiveEntries(zip::TVCLUnZip& reader, const std::string& archive_path) {
  reader.SetZipName(archive_path);
  reader.ReadZip();
  const int count = reader.Count();
  std::vector<EntryRow> rows;
  if (count <= 0) return rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    rows.push_back(EntryRow{reader.EntryName(i), std::to_string(reader.EntryCompressedSize(i)), reader.EntryPath(i)});
  }
  return rows;
}

ArchiveBrowser::ArchiveBrowser(AppSettings& settings, zip::TVCLUnZip& reader, UserInterface& ui)
    : settings_(&settings),
      reader_(&reader),
      ui_(&ui),
      folder_(DestinationFolder(std::string(kDefaultSavePath))),
      zip_number_label_(TotalLabel(0)),
      file_number_label_(TotalLabel(0)) {}

std::string ArchiveBrowser::TotalLabel(std::size_t count) {
  return "(Total " + std::to_string(count) + " files)";
}

ArchiveRow ArchiveBrowser::MakeRow(const std::string& name, std::int64_t size_bytes, platform::DateTime time) {
  ArchiveRow row;
  row.name = name;
  row.size_bytes = size_bytes;
  row.size_key = size_bytes / 1024;
  row.size_kb = std::to_string(row.size_key);
  row.date_key = ToSecond(time);
  row.date = DateText(row.date_key);
  return row;
}

std::vector<ArchiveRow> ArchiveBrowser::FindArchives(const std::string& folder) {
  std::vector<ArchiveRow> rows;
  findfile::TFindFile finder;
  finder.SetFilename("*.zip");
  finder.SetSubfolders(false);
  finder.SetThreaded(false);
  finder.SetLocation(folder);
  // Only the file's own information is used; the folder reported with it is ignored.
  finder.OnFound = [&rows](findfile::TFindFile& /*sender*/, const std::string& /*folder*/, findfile::TSearchRec& info) {
    rows.push_back(MakeRow(info.name, info.size, info.time));
  };
  finder.Execute();
  return rows;
}

void ArchiveBrowser::SetFolder(const std::string& folder) {
  folder_ = folder;
  DirectoryViewChange();
}

void ArchiveBrowser::PageControl1Change(const std::string& save_path) {
  SetFolder(DestinationFolder(save_path));
}

void ArchiveBrowser::TrimFolderText() {
  folder_ = Trim(folder_);
}

std::string ArchiveBrowser::ArchivePath(const std::string& name) {
  TrimFolderText();
  if (folder_.empty()) return name;
  return platform::IncludeTrailingSeparator(folder_) + name;
}

bool ArchiveBrowser::DirectoryViewChange() {
  std::vector<ArchiveRow> found;
  try {
    const std::string folder = Trim(folder_);
    found = FindArchives(folder.empty() ? std::string(".") : folder);
  } catch (const std::exception&) {
    // The search reports no errors of its own (a folder given with wildcards finds nothing).
    found.clear();
  }
  bool ok = true;
  if (found.empty()) {
    rows_.clear();
    entries_.clear();
    current_row_ = selection_top_ = selection_bottom_ = -1;
    file_number_label_ = TotalLabel(0);
  } else {
    rows_ = std::move(found);
    current_row_ = selection_top_ = selection_bottom_ = 0;
    ok = SortAndShow(settings_->sort_field);
  }
  zip_number_label_ = TotalLabel(rows_.size());
  return ok;
}

bool ArchiveBrowser::SortArchiveListing(SortField field) {
  if (rows_.empty() || rows_.front().name.empty()) return true;
  SortArchiveRows(rows_, field, settings_->sort_descending);
  current_row_ = selection_top_ = selection_bottom_ = 0;
  ShowArchiveEntries(rows_.front().name);
  return true;
}

bool ArchiveBrowser::SortAndShow(SortField field) {
  try {
    return SortArchiveListing(field);
  } catch (const std::exception& error) {
    ui_->ShowError(error.what());
    return false;
  }
}

bool ArchiveBrowser::PopupmenuAscClick(SortMenuItem item) {
  switch (item) {
    case SortMenuItem::kByName:
      settings_->sort_field = SortField::kName;
      break;
    case SortMenuItem::kBySize:
      settings_->sort_field = SortField::kSize;
      break;
    case SortMenuItem::kByDate:
      settings_->sort_field = SortField::kDate;
      break;
    case SortMenuItem::kAscending:
      settings_->sort_descending = false;
      break;
    case SortMenuItem::kDescending:
      settings_->sort_descending = true;
      break;
  }
  return SortAndShow(settings_->sort_field);
}

bool ArchiveBrowser::SelectRow(int index) {
  if (index < 0 || index >= static_cast<int>(rows_.size())) return true;
  current_row_ = selection_top_ = selection_bottom_ = index;
  try {
    ShowArchiveEntries(Trim(rows_[static_cast<std::size_t>(index)].name));
  } catch (const std::exception& error) {
    ui_->ShowError(error.what());
    return false;
  }
  return true;
}

void ArchiveBrowser::SelectRange(int first, int last) {
  const int count = static_cast<int>(rows_.size());
  if (count == 0) return;
  auto clamp = [count](int index) { return index < 0 ? 0 : (index >= count ? count - 1 : index); };
  first = clamp(first);
  last = clamp(last);
  selection_top_ = first < last ? first : last;
  selection_bottom_ = first < last ? last : first;
  current_row_ = last;
}

std::string ArchiveBrowser::CurrentNameOf(int index) const {
  if (index < 0 || index >= static_cast<int>(rows_.size())) return "";
  return Trim(rows_[static_cast<std::size_t>(index)].name);
}

std::string ArchiveBrowser::CurrentName() const {
  return CurrentNameOf(current_row_);
}

void ArchiveBrowser::ClearEntries() {
  entries_.clear();
  file_number_label_ = TotalLabel(0);
}

void ArchiveBrowser::ShowArchiveEntries(const std::string& name) {
  std::string trimmed = Trim(name);
  if (trimmed.empty()) return;
  std::vector<EntryRow> rows = ReadArchiveEntries(*reader_, ArchivePath(trimmed));
  if (rows.empty()) {
    ClearEntries();
    return;
  }
  entries_ = std::move(rows);
  file_number_label_ = TotalLabel(entries_.size());
}

}  // namespace kzb::app
