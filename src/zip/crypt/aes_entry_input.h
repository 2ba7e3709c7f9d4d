// The reading side of one AES-encrypted entry as an input stage between the archive and a decoder.
//
// The entry's stored data is: salt, 2-byte password verifier, the encrypted compressed bytes, and a
// 10-byte authentication code. Begin reads salt and verifier and checks the password before anything else
// happens (so a wrong password costs no output). Read then hands the decoder decrypted compressed bytes,
// never more than the entry holds; the authentication code is not part of them. Finish runs what the
// decoder left unread through the authentication, reads the stored code and compares: only a true result
// means the bytes are the ones the writer authenticated (a changed byte, a cut entry or, once in 65536
// wrong passwords, a password that passed the verifier all give false).
//
// The stage pulls raw bytes through a function, so it does not care where they come from (one file, a
// set of volumes); a raw read that comes back short means the archive ended inside the entry, which Read
// reports by raising EFatalUnzipError and Begin and Finish by their results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "zip/crypt/aes_crypt.h"

namespace kzb::zip {

class TAesEntryInput {
 public:
  // Reads up to count raw bytes of the archive at the current position; returns how many arrived.
  using RawReadFn = std::function<std::int64_t(std::uint8_t* buffer, std::int64_t count)>;

  enum class BeginResult {
    kOk,           // the password's verifier matches; Read may start
    kBadPassword,  // the verifier differs
    kDamaged,      // the entry is too short to hold salt, verifier and code, or the archive ends first
  };

  // stored_size: the entry's compressed size as the directory gives it (salt to code, inclusive).
  BeginResult Begin(std::string_view password, TAesStrength strength, std::int64_t stored_size, RawReadFn raw);
  // Compressed bytes (decrypted) of the entry not yet read.
  std::int64_t Remaining() const { return remaining_; }
  // Fills up to max decrypted bytes; 0 when the encrypted part is used up. EFatalUnzipError when the
  // archive ends early.
  std::size_t Read(std::uint8_t* buffer, std::size_t max);
  // Authenticates the rest of the encrypted part, reads the stored code and compares; false when the
  // entry is not intact (or the archive ends before its code).
  bool Finish();

 private:
  // Raw bytes of the entry not yet read are skipped in pieces of this size when a decoder stopped early.
  static constexpr std::size_t kSkipBlockSize = 16384;

  TAesDecryptor decryptor_;
  RawReadFn raw_;
  std::int64_t remaining_ = 0;
};

}  // namespace kzb::zip
