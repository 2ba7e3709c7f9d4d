// The archive engine's error classes. Each carries one of the engine's fixed English messages; operations
// that cannot go on raise them, while per-entry problems during extraction are reported through events.
#pragma once

#include <stdexcept>
#include <string>

namespace kzb::zip {

// Base of every engine error (the platform's general exception class).
class EZipEngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#define KZB_ZIP_ERROR(Name, DefaultMessage)                                 \
  class Name : public EZipEngineError {                                     \
   public:                                                                  \
    Name() : EZipEngineError(DefaultMessage) {}                             \
    explicit Name(const std::string& message) : EZipEngineError(message) {} \
  };

KZB_ZIP_ERROR(EBadZipFile, "Not a valid zip file!")
KZB_ZIP_ERROR(ENotAZipFile, "Not a valid zip file!")
KZB_ZIP_ERROR(EIncompleteZip, "Incomplete Zip File")
KZB_ZIP_ERROR(EFatalUnzipError, "Premature end of file reached")
KZB_ZIP_ERROR(EUserCanceled, "User canceled Zip operation")
KZB_ZIP_ERROR(EBiggerThanUncompressed, "File is larger than uncompressed size!")
KZB_ZIP_ERROR(ECantWriteUCF, "Cant write uncompressed file")
KZB_ZIP_ERROR(ENotEnoughRoom, "Not enough room to write archive")
// The destination of an extraction cannot hold the chosen entries; the message names the folder, the
// bytes needed and the bytes free.
KZB_ZIP_ERROR(ENotEnoughSpace, "Not enough free space to extract")
// Errors of the engine's streams and lists ("List index out of bounds (%d)", "Putback overflow", ...).
KZB_ZIP_ERROR(EListError, "List error")
KZB_ZIP_ERROR(EStreamError, "Stream error")
// Any other engine failure raised with its own message ("Invalid seek origin (%d)", "Seek error", ...).
KZB_ZIP_ERROR(EZipGeneralError, "Zip engine error")

#undef KZB_ZIP_ERROR

}  // namespace kzb::zip
