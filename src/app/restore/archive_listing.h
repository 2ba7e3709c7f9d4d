// The Restore page's archive browser: the ZIP archives of one folder, ordered by name, size or date, and
// the entries of the selected archive.
//
// A refresh searches the folder for "*.zip" with the file finder (in the calling thread, no subfolders),
// fills the listing with one row per archive (name, size in whole KiB, last-write date and time) and sorts
// it by the chosen column, which also selects the first row and reads that archive's directory into the
// entries grid. Rows keep the numbers they show next to their texts, so the sort compares what the user
// sees: names byte by byte (upper case before lower case), sizes as numbers of KiB, dates as date-times
// to the second.
//
// The sort is an exchange sort over the rows; its treatment of equal keys (kept in place when ascending,
// exchanged when descending) decides the order of archives that show the same key, and is kept exactly.
// The O(n^2) comparisons are cheap next to reading one archive directory: 500 archives take about 125 000
// integer or string comparisons.
//
// A grid that shows no rows still shows one blank row in the window; here it is an empty vector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/common/user_interface.h"
#include "app/project/app_settings.h"
#include "platform/date_time.h"

namespace kzb::zip {
class TVCLUnZip;
}

namespace kzb::app {

// One row of the archive listing.
struct ArchiveRow {
  std::string name;     // column 0: the archive's file name without folder
  std::string size_kb;  // column 1: size div 1024, in decimal
  std::string date;     // column 2: "yyyy-mm-dd HH:mm:ss" (the date alone at exactly midnight)
  std::int64_t size_bytes = 0;
  std::int64_t size_key = 0;    // the number shown in column 1
  platform::DateTime date_key;  // the value shown in column 2, to the second
};

// One row of the entries grid.
struct EntryRow {
  std::string name;             // column 0: the entry's file name without folder
  std::string compressed_size;  // column 1: compressed size in bytes, in decimal
  std::string path;             // column 2: the entry's folder part with its trailing separator, or ""
};

// The exchange sort of the listing: for q from the last row down to the second, and for r from the first
// row up to q - 1, rows r and q are exchanged when row r's key is greater (ascending) or not greater
// (descending, so equal keys are exchanged too).
void SortArchiveRows(std::vector<ArchiveRow>& rows, SortField field, bool descending);

// The entries of an archive in its directory's order, read with the reader. Errors of the reader (a file
// that cannot be opened, a damaged directory) propagate; a file that is not a ZIP archive has no entries.
std::vector<EntryRow> ReadArchiveEntries(zip::TVCLUnZip& reader, const std::string& archive_path);

// Menu tags of the "Files Sort" items.
enum class SortMenuItem { kByName = 100, kBySize = 200, kByDate = 300, kAscending = 400, kDescending = 500 };

class ArchiveBrowser {
 public:
  // The listing sorts by settings.sort_field and settings.sort_descending; reader reads the directories;
  // errors the window would show through its general error handler go to ui. All must outlive the browser.
  ArchiveBrowser(AppSettings& settings, zip::TVCLUnZip& reader, UserInterface& ui);

  // The folder field (`DirectoryView`): its text as it stands.
  const std::string& Folder() const { return folder_; }
  // Sets the folder text and refreshes the listing (the folder dialog, or code).
  void SetFolder(const std::string& folder);
  // The Restore page became active: the folder becomes the project's destination folder (save_path as
  // the project stores it) and the listing is refreshed.
  void PageControl1Change(const std::string& save_path);

  // Refreshes the listing (`DirectoryViewChange`). Returns false when reading the first archive's
  // directory failed (the error has been shown; the listing and its count are still set).
  bool DirectoryViewChange();
  // Orders the rows by the field with the current direction, selects the first row and shows its entries
  // (`SortArchiveListing`). Nothing happens when the listing is empty. False when reading failed.
  bool SortArchiveListing(SortField field);
  // A click on one of the five "Files Sort" items (`PopupmenuAscClick`).
  bool PopupmenuAscClick(SortMenuItem item);

  // The user selected row index (0 = first archive): its entries are shown (`StringGridZipfilename-
  // SelectCell`). The selection becomes that row alone. False when reading failed.
  bool SelectRow(int index);
  // Shift+click: the selection becomes the block first..last (in either order); the current row is last.
  void SelectRange(int first, int last);
  // Fills the entries grid for the archive of that name in the folder (`ShowArchiveEntries`); a blank name
  // does nothing. Errors of the reader propagate; the grid then keeps its previous rows.
  void ShowArchiveEntries(const std::string& name);

  // The archive's full path: the trimmed folder text, a separator when it does not end with one, the name.
  // The folder text is written back trimmed.
  std::string ArchivePath(const std::string& name);
  // Writes the folder text back trimmed.
  void TrimFolderText();

  const std::vector<ArchiveRow>& Rows() const { return rows_; }
  const std::vector<EntryRow>& Entries() const { return entries_; }
  // The row with the focus, -1 when the listing is empty.
  int CurrentRow() const { return current_row_; }
  // The selected block of rows (top <= bottom), -1/-1 when the listing is empty.
  int SelectionTop() const { return selection_top_; }
  int SelectionBottom() const { return selection_bottom_; }
  // The trimmed name of the current row, "" when there is none.
  std::string CurrentName() const;
  // "(Total N files)" under each grid.
  const std::string& ZipNumberLabel() const { return zip_number_label_; }
  const std::string& FileNumberLabel() const { return file_number_label_; }
  // The file items of the listing's menu are shown only when the listing holds an archive.
  bool FileItemsVisible() const { return !rows_.empty() && !CurrentNameOf(0).empty(); }

  // Rows from a folder search: one per "*.zip" file directly in folder, in the finder's order. Used by the
  // refresh; public for front ends that only want the rows.
  static std::vector<ArchiveRow> FindArchives(const std::string& folder);
  // Texts and keys of a row from a file's name, size and last-write time.
  static ArchiveRow MakeRow(const std::string& name, std::int64_t size_bytes, platform::DateTime time);
  // "(Total N files)".
  static std::string TotalLabel(std::size_t count);

 private:
  std::string CurrentNameOf(int index) const;
  // Runs the sort and, on failure of the entries' read, shows the error; false then.
  bool SortAndShow(SortField field);
  void ClearEntries();

  AppSettings* settings_;
  zip::TVCLUnZip* reader_;
  UserInterface* ui_;
  std::string folder_;
  std::vector<ArchiveRow> rows_;
  std::vector<EntryRow> entries_;
  int current_row_ = -1;
  int selection_top_ = -1;
  int selection_bottom_ = -1;
  std::string zip_number_label_;
  std::string file_number_label_;
};

}  // namespace kzb::app
