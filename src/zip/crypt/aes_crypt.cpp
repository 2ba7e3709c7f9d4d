#include "zip/crypt/aes_crypt.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

// libcrypto failing on valid arguments means the library itself is broken (out of memory, a provider
// missing); no entry can be written or read then.
[[noreturn]] void CryptoFailure(const char* what) {
  throw EZipGeneralError(std::string("Encryption library failure: ") + what);
}

const EVP_CIPHER* CipherFor(int key_length) {
  switch (key_length) {
    case 16:
      return EVP_aes_128_ecb();
    case 24:
      return EVP_aes_192_ecb();
    case 32:
      return EVP_aes_256_ecb();
    default:
      CryptoFailure("invalid AES key length");
  }
}

// One HMAC algorithm object for the process (fetching it is a locked look-up in the provider tables).
EVP_MAC* HmacAlgorithm() {
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (mac == nullptr) CryptoFailure("HMAC not available");
  return mac;
}

}  // namespace

void WipeBytes(void* data, std::size_t size) { OPENSSL_cleanse(data, size); }

int AesKeyLength(TAesStrength strength) { return 8 + 8 * static_cast<int>(strength); }

int AesSaltLength(TAesStrength strength) { return AesKeyLength(strength) / 2; }

int AesOverhead(TAesStrength strength) { return AesSaltLength(strength) + 2 + 10; }

void Pbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t salt_length, int iterations,
                    std::uint8_t* out, std::size_t out_length) {
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(salt_length),
                        iterations, EVP_sha1(), static_cast<int>(out_length), out) != 1) {
    CryptoFailure("PBKDF2");
  }
}

TAesKeys DeriveAesKeys(std::string_view password, const std::uint8_t* salt, TAesStrength strength) {
  const int key_length = AesKeyLength(strength);
  std::uint8_t derived[2 * 32 + 2];
  const std::size_t derived_length = static_cast<std::size_t>(2 * key_length + 2);
  Pbkdf2HmacSha1(password, salt, static_cast<std::size_t>(AesSaltLength(strength)), kAesKeyIterations, derived,
                 derived_length);
  TAesKeys keys;
  keys.strength = strength;
  std::copy(derived, derived + key_length, keys.encryption_key.begin());
  std::copy(derived + key_length, derived + 2 * key_length, keys.mac_key.begin());
  keys.verifier = {derived[2 * key_length], derived[2 * key_length + 1]};
  OPENSSL_cleanse(derived, sizeof derived);
  return keys;
}

// --- Counter mode ---------------------------------------------------------------------------------------

TAesCtr::TAesCtr() : ctx_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {
  if (!ctx_) CryptoFailure("no cipher context");
}

TAesCtr::~TAesCtr() {
  OPENSSL_cleanse(stream_.data(), stream_.size());
}

void TAesCtr::Init(const std::uint8_t* key, int key_length) {
  if (EVP_EncryptInit_ex(ctx_.get(), CipherFor(key_length), nullptr, key, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) != 1) {
    CryptoFailure("AES key set-up");
  }
  counter_low_ = 0;
  counter_high_ = 0;
  stream_used_ = 0;
  stream_size_ = 0;
}

void TAesCtr::Refill() {
  // The counter is a 128-bit little-endian number starting at 1.
  for (std::size_t b = 0; b < kBatchBlocks; ++b) {
    if (++counter_low_ == 0) ++counter_high_;
    std::uint8_t* block = counters_.data() + 16 * b;
    for (int i = 0; i < 8; ++i) {
      block[i] = static_cast<std::uint8_t>(counter_low_ >> (8 * i));
      block[8 + i] = static_cast<std::uint8_t>(counter_high_ >> (8 * i));
    }
  }
  int produced = 0;
  if (EVP_EncryptUpdate(ctx_.get(), stream_.data(), &produced, counters_.data(), static_cast<int>(counters_.size())) !=
          1 ||
      produced != static_cast<int>(stream_.size())) {
    CryptoFailure("AES");
  }
  stream_used_ = 0;
  stream_size_ = stream_.size();
}

void TAesCtr::Apply(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  while (count > 0) {
    if (stream_used_ == stream_size_) Refill();
    const std::size_t n = std::min(count, stream_size_ - stream_used_);
    const std::uint8_t* k = stream_.data() + stream_used_;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(in[i] ^ k[i]);
    stream_used_ += n;
    in += n;
    out += n;
    count -= n;
  }
}

// --- HMAC-SHA1 ------------------------------------------------------------------------------------------

THmacSha1::THmacSha1() : ctx_(EVP_MAC_CTX_new(HmacAlgorithm()), EVP_MAC_CTX_free) {
  if (!ctx_) CryptoFailure("no HMAC context");
}

THmacSha1::~THmacSha1() = default;

void THmacSha1::Init(const std::uint8_t* key, std::size_t key_length) {
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (EVP_MAC_init(ctx_.get(), key, key_length, params) != 1) CryptoFailure("HMAC key set-up");
}

void THmacSha1::Update(const std::uint8_t* data, std::size_t count) {
  if (count > 0 && EVP_MAC_update(ctx_.get(), data, count) != 1) CryptoFailure("HMAC");
}

std::array<std::uint8_t, THmacSha1::kSize> THmacSha1::Final() {
  std::array<std::uint8_t, kSize> out{};
  std::size_t length = 0;
  if (EVP_MAC_final(ctx_.get(), out.data(), &length, out.size()) != 1 || length != out.size()) {
    CryptoFailure("HMAC");
  }
  return out;
}

// --- One entry ------------------------------------------------------------------------------------------

int TAesEncryptor::Begin(std::string_view password, TAesStrength strength, const std::uint8_t* salt,
                         std::uint8_t preamble[kAesPreambleMax]) {
  TAesKeys keys = DeriveAesKeys(password, salt, strength);
  const int length = Begin(keys, salt, preamble);
  OPENSSL_cleanse(&keys, sizeof keys);
  return length;
}

int TAesEncryptor::Begin(const TAesKeys& keys, const std::uint8_t* salt, std::uint8_t preamble[kAesPreambleMax]) {
  const int key_length = AesKeyLength(keys.strength);
  ctr_.Init(keys.encryption_key.data(), key_length);
  mac_.Init(keys.mac_key.data(), static_cast<std::size_t>(key_length));
  const int salt_length = AesSaltLength(keys.strength);
  std::copy(salt, salt + salt_length, preamble);
  preamble[salt_length] = keys.verifier[0];
  preamble[salt_length + 1] = keys.verifier[1];
  return salt_length + 2;
}

void TAesEncryptor::Encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  ctr_.Apply(in, out, count);
  mac_.Update(out, count);
}

std::array<std::uint8_t, 10> TAesEncryptor::Finish() {
  const auto full = mac_.Final();
  std::array<std::uint8_t, 10> code{};
  std::copy(full.begin(), full.begin() + 10, code.begin());
  return code;
}

bool TAesDecryptor::Begin(std::string_view password, TAesStrength strength, const std::uint8_t* salt,
                          const std::uint8_t verifier[2]) {
  TAesKeys keys = DeriveAesKeys(password, salt, strength);
  const bool match = keys.verifier[0] == verifier[0] && keys.verifier[1] == verifier[1];
  if (match) {
    const int key_length = AesKeyLength(strength);
    ctr_.Init(keys.encryption_key.data(), key_length);
    mac_.Init(keys.mac_key.data(), static_cast<std::size_t>(key_length));
  }
  OPENSSL_cleanse(&keys, sizeof keys);
  return match;
}

void TAesDecryptor::Decrypt(std::uint8_t* data, std::size_t count) {
  mac_.Update(data, count);
  ctr_.Apply(data, data, count);
}

void TAesDecryptor::Authenticate(const std::uint8_t* data, std::size_t count) { mac_.Update(data, count); }

bool TAesDecryptor::Verify(const std::uint8_t code[10]) {
  const auto full = mac_.Final();
  return CRYPTO_memcmp(full.data(), code, 10) == 0;
}

}  // namespace kzb::zip
