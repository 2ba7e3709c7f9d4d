// The cryptographic primitives from OpenSSL's libcrypto (3.x: the EVP cipher and MAC interfaces).
//
// The AES context is set up once per key with padding off, so one EVP_EncryptUpdate call encrypts a whole
// batch of counter blocks (AES-NI pipelines them). The HMAC algorithm is fetched once per process, since
// fetching is a locked look-up in the provider tables; each THmacSha1 owns its own context.
#include "zip/crypt/crypto_primitives.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <string>

#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

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

EVP_MAC* HmacAlgorithm() {
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (mac == nullptr) CryptoFailure("HMAC not available");
  return mac;
}

}  // namespace

void Pbkdf2HmacSha1(std::string_view password, const std::uint8_t* salt, std::size_t salt_length, int iterations,
                    std::uint8_t* out, std::size_t out_length) {
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, static_cast<int>(salt_length),
                        iterations, EVP_sha1(), static_cast<int>(out_length), out) != 1) {
    CryptoFailure("PBKDF2");
  }
}

// --- AES ------------------------------------------------------------------------------------------------

struct TAesEcb::TState {
  std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx{EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free};
};

TAesEcb::TAesEcb() : state_(std::make_unique<TState>()) {
  if (!state_->ctx) CryptoFailure("no cipher context");
}

TAesEcb::~TAesEcb() = default;

void TAesEcb::SetKey(const std::uint8_t* key, int key_length) {
  if (EVP_EncryptInit_ex(state_->ctx.get(), CipherFor(key_length), nullptr, key, nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(state_->ctx.get(), 0) != 1) {
    CryptoFailure("AES key set-up");
  }
}

void TAesEcb::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t size) {
  int produced = 0;
  if (size % kBlockSize != 0 || EVP_EncryptUpdate(state_->ctx.get(), out, &produced, in, static_cast<int>(size)) != 1 ||
      produced != static_cast<int>(size)) {
    CryptoFailure("AES");
  }
}

// --- HMAC-SHA1 ------------------------------------------------------------------------------------------

struct THmacSha1::TState {
  std::unique_ptr<EVP_MAC_CTX, void (*)(EVP_MAC_CTX*)> ctx{EVP_MAC_CTX_new(HmacAlgorithm()), EVP_MAC_CTX_free};
};

THmacSha1::THmacSha1() : state_(std::make_unique<TState>()) {
  if (!state_->ctx) CryptoFailure("no HMAC context");
}

THmacSha1::~THmacSha1() = default;

void THmacSha1::Init(const std::uint8_t* key, std::size_t key_length) {
  char digest[] = "SHA1";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  if (EVP_MAC_init(state_->ctx.get(), key, key_length, params) != 1) CryptoFailure("HMAC key set-up");
}

void THmacSha1::Update(const std::uint8_t* data, std::size_t count) {
  if (count > 0 && EVP_MAC_update(state_->ctx.get(), data, count) != 1) CryptoFailure("HMAC");
}

std::array<std::uint8_t, THmacSha1::kSize> THmacSha1::Final() {
  std::array<std::uint8_t, kSize> out{};
  std::size_t length = 0;
  if (EVP_MAC_final(state_->ctx.get(), out.data(), &length, out.size()) != 1 || length != out.size()) {
    CryptoFailure("HMAC");
  }
  return out;
}

// --- Secrets --------------------------------------------------------------------------------------------

void WipeBytes(void* data, std::size_t size) {
  OPENSSL_cleanse(data, size);
}

bool EqualInConstantTime(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  return CRYPTO_memcmp(a, b, size) == 0;
}

}  // namespace kzb::zip
