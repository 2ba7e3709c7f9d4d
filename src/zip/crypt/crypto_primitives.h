// The cryptographic primitives AES entries are built from, taken from the system's cryptography library
// and never written here: PBKDF2-HMAC-SHA1, AES applied block by block (ECB, no padding), HMAC-SHA1, and
// the two helpers that keep secrets from leaking (wiping memory, comparing in constant time).
//
// One implementation per system, chosen at build time: posix/crypto_primitives.cpp uses OpenSSL's
// libcrypto, windows/crypto_primitives.cpp the system's CNG (bcrypt.dll). Everything the format adds on
// top (the counter mode, the key layout, the verifier, the cut authentication code) lives in
// aes_crypt.cpp and is the same on every system.
//
// A library that fails on valid arguments (out of memory, an algorithm missing) raises EZipGeneralError
// "Encryption library failure: ..."; no entry can be written or read then.
//
// Internal to src/zip/crypt; the engine uses the entry classes of aes_crypt.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kzb::zip {

// PBKDF2 with HMAC-SHA1.
void Pbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t salt_length, int iterations,
                    std::uint8_t* out, std::size_t out_length);

// AES encryption of whole 16-byte blocks, each on its own (ECB): the raw cipher a counter mode is made
// from.
class TAesEcb {
 public:
  static constexpr std::size_t kBlockSize = 16;
  TAesEcb();
  ~TAesEcb();
  TAesEcb(const TAesEcb&) = delete;
  TAesEcb& operator=(const TAesEcb&) = delete;

  // key_length is 16, 24 or 32; a new key replaces the last one.
  void SetKey(const std::uint8_t* key, int key_length);
  // Encrypts size bytes (a multiple of kBlockSize) from in to out; the buffers do not overlap.
  void EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t size);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// HMAC-SHA1, one message per Init.
class THmacSha1 {
 public:
  static constexpr int kSize = 20;
  THmacSha1();
  ~THmacSha1();
  THmacSha1(const THmacSha1&) = delete;
  THmacSha1& operator=(const THmacSha1&) = delete;

  void Init(const std::uint8_t* key, std::size_t key_length);
  void Update(const std::uint8_t* data, std::size_t count);
  // The code of everything passed to Update since Init; Init again before the next message.
  std::array<std::uint8_t, kSize> Final();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// Overwrites key material so that it does not linger in freed memory (not optimised away).
void WipeBytes(void* data, std::size_t size);

// a and b agree in their first size bytes; the time taken does not depend on where they differ.
bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t size);

}  // namespace kzb::zip
