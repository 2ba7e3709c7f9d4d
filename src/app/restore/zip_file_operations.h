// The file operations of the archive listing's menu: open an archive with the desktop's program for it,
// copy one archive to another folder, delete the selected archives. None of them reads an archive; all
// work on the whole files in the listing's folder.
#pragma once

#include <string>

#include "app/common/user_interface.h"
#include "app/restore/archive_listing.h"

namespace kzb::app {

// "Open Zip File" and a double click (`StringGridZipfilenameDblClick`): the current row's archive is
// opened with the desktop's default program. Nothing happens without a current row. Returns whether a
// launcher was started.
bool OpenZipFile(ArchiveBrowser& browser);

// "Copy the Zip File to..." (`MenuCopyClick`): asks for a folder ("Copy 'NAME' to destination folder"),
// asks "File already exists! Do you want to overwrite?" when the folder holds a file of that name, and
// copies. A copy that fails is reported with the file and the cause; copying an archive onto itself does
// nothing. The listing is not refreshed. Returns true when a copy was made.
bool CopyZipFile(ArchiveBrowser& browser, UserInterface& ui);

// "Delete Zip Files Selected" (`menuDeleteClick`): asks "Do you want to delete the N files " and on Yes
// deletes the archive of every selected row (a file that cannot be deleted is passed over). The listing is
// refreshed whatever the answer (and without a question when the listing is empty). Returns the number of
// files deleted.
int DeleteSelectedZipFiles(ArchiveBrowser& browser, UserInterface& ui);

}  // namespace kzb::app
