// The cryptographic primitives from the system's CNG (bcrypt.dll, Windows 7 and later).
//
// The two algorithm providers (AES with the ECB chaining mode set on the provider, and SHA-1 opened for
// HMAC) are opened once per process and never closed: opening one is a slow look-up, and a provider
// handle may be used by several threads at once (the key pool derives keys on a second thread while the
// writer encrypts). Key and hash objects belong to one TAesEcb or THmacSha1 each; CNG allocates their
// memory itself. A finished hash cannot take more data on Windows 7, so every HMAC message gets a hash
// object of its own, made by Init with the key.
//
// CNG takes sizes as ULONG; larger buffers are passed in pieces.
#include "zip/crypt/crypto_primitives.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

// The largest piece passed to one call: a multiple of the AES block size that fits a ULONG.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

[[noreturn]] void CryptoFailure(const std::string& what) {
  throw EZipGeneralError("Encryption library failure: " + what);
}

[[noreturn]] void CryptoFailure(const char* what, NTSTATUS status) {
  char code[16];
  std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(status));
  CryptoFailure(std::string(what) + " (status 0x" + code + ")");
}

void Check(NTSTATUS status, const char* what) {
  if (!BCRYPT_SUCCESS(status)) CryptoFailure(what, status);
}

// CNG's input parameters are not declared const, though it only reads them.
PUCHAR In(const void* data) {
  return static_cast<PUCHAR>(const_cast<void*>(data));
}

struct TProviders {
  BCRYPT_ALG_HANDLE aes_ecb = nullptr;
  BCRYPT_ALG_HANDLE hmac_sha1 = nullptr;
};

TProviders OpenProviders() {
  TProviders p;
  Check(BCryptOpenAlgorithmProvider(&p.aes_ecb, BCRYPT_AES_ALGORITHM, nullptr, 0), "AES not available");
  NTSTATUS status =
      BCryptSetProperty(p.aes_ecb, BCRYPT_CHAINING_MODE, In(BCRYPT_CHAIN_MODE_ECB), sizeof(BCRYPT_CHAIN_MODE_ECB), 0);
  if (BCRYPT_SUCCESS(status)) {
    status = BCryptOpenAlgorithmProvider(&p.hmac_sha1, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  }
  if (!BCRYPT_SUCCESS(status)) {
    BCryptCloseAlgorithmProvider(p.aes_ecb, 0);
    CryptoFailure("AES-ECB or HMAC-SHA1 not available", status);
  }
  return p;
}

const TProviders& Providers() {
  // A failed opening throws and is tried again by the next caller.
  static const TProviders providers = OpenProviders();
  return providers;
}

}  // namespace

void Pbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t salt_length, int iterations,
                    std::uint8_t* out, std::size_t out_length) {
  // An empty password or salt still needs a valid pointer.
  static const std::uint8_t kNothing = 0;
  if (iterations <= 0 || password.size() > kMaxPiece || salt_length > kMaxPiece || out_length > kMaxPiece) {
    CryptoFailure("PBKDF2 arguments");
  }
  Check(BCryptDeriveKeyPBKDF2(Providers().hmac_sha1,
                              In(password.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(password.data())),
                              static_cast<ULONG>(password.size()), In(salt_length == 0 ? &kNothing : salt),
                              static_cast<ULONG>(salt_length), static_cast<ULONGLONG>(iterations), out,
                              static_cast<ULONG>(out_length), 0),
        "PBKDF2");
}

// --- AES ------------------------------------------------------------------------------------------------

struct TAesEcb::TState {
  BCRYPT_KEY_HANDLE key = nullptr;
  ~TState() {
    if (key != nullptr) BCryptDestroyKey(key);
  }
};

TAesEcb::TAesEcb() : state_(std::make_unique<TState>()) {}

TAesEcb::~TAesEcb() = default;

void TAesEcb::SetKey(const std::uint8_t* key, int key_length) {
  if (key_length != 16 && key_length != 24 && key_length != 32) {
    CryptoFailure("invalid AES key length");
  }
  if (state_->key != nullptr) {
    BCryptDestroyKey(state_->key);
    state_->key = nullptr;
  }
  Check(BCryptGenerateSymmetricKey(Providers().aes_ecb, &state_->key, nullptr, 0, In(key),
                                   static_cast<ULONG>(key_length), 0),
        "AES key set-up");
}

void TAesEcb::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
  if (state_->key == nullptr) CryptoFailure("AES without a key");
  if (size % kBlockSize != 0) CryptoFailure("AES on a partial block");
  while (size > 0) {
    const auto piece = static_cast<ULONG>(std::min(size, kMaxPiece));
    ULONG produced = 0;
    Check(BCryptEncrypt(state_->key, In(in), piece, nullptr, nullptr, 0, out, piece, &produced, 0), "AES");
    if (produced != piece) CryptoFailure("AES");
    in += piece;
    out += piece;
    size -= piece;
  }
}

// --- HMAC-SHA1 ------------------------------------------------------------------------------------------

struct THmacSha1::TState {
  BCRYPT_HASH_HANDLE hash = nullptr;
  void Drop() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    hash = nullptr;
  }
  ~TState() { Drop(); }
};

THmacSha1::THmacSha1() : state_(std::make_unique<TState>()) {}

THmacSha1::~THmacSha1() = default;

void THmacSha1::Init(const std::uint8_t* key, std::size_t key_length) {
  static const std::uint8_t kNothing = 0;
  if (key_length > kMaxPiece) CryptoFailure("HMAC key set-up");
  state_->Drop();
  Check(BCryptCreateHash(Providers().hmac_sha1, &state_->hash, nullptr, 0, In(key_length == 0 ? &kNothing : key),
                         static_cast<ULONG>(key_length), 0),
        "HMAC key set-up");
}

void THmacSha1::Update(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return;
  if (state_->hash == nullptr) CryptoFailure("HMAC without a key");
  while (count > 0) {
    const auto piece = static_cast<ULONG>(std::min(count, kMaxPiece));
    Check(BCryptHashData(state_->hash, In(data), piece, 0), "HMAC");
    data += piece;
    count -= piece;
  }
}

std::array<std::uint8_t, THmacSha1::kSize> THmacSha1::Final() {
  if (state_->hash == nullptr) CryptoFailure("HMAC without a key");
  std::array<std::uint8_t, kSize> out{};
  const NTSTATUS status = BCryptFinishHash(state_->hash, out.data(), static_cast<ULONG>(out.size()), 0);
  state_->Drop();
  Check(status, "HMAC");
  return out;
}

// --- Secrets --------------------------------------------------------------------------------------------

void WipeBytes(void* data, std::size_t size) {
  SecureZeroMemory(data, size);
}

bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  // Every byte is read; the volatile accumulator keeps the compiler from stopping at the first difference.
  volatile std::uint8_t difference = 0;
  for (std::size_t i = 0; i < size; ++i) difference = static_cast<std::uint8_t>(difference | (a[i] ^ b[i]));
  return difference == 0;
}

}  // namespace kzb::zip
