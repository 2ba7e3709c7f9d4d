#include "zip/crypt/aes_crypt.h"
#include "zip/crypt/aes_key_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include <set>
#include <string>
#include <vector>

namespace kzb::zip {
namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(digits[data[i] >> 4]);
    out.push_back(digits[data[i] & 15]);
  }
  return out;
}

// The published PBKDF2-HMAC-SHA1 test values (RFC 6070), and an empty password or salt (values from
// Python's hashlib), which the system libraries take only with care for the pointer.
TEST(AesCryptTest, Pbkdf2KnownAnswers) {
  struct Case {
    std::string password, salt;
    int iterations;
    std::string expected;
  };
  const Case cases[] = {
      {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
      {"", "salt", 2, "133a4ce837b4d2521ee2bf03e11c71ca794e0797"},
      {"password", "", 2, "28007d55461ac80ba13cda422e164b8c748ce706"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(c.expected.size() / 2);
    Pbkdf2HmacSha1(c.password, reinterpret_cast<const std::uint8_t*>(c.salt.data()), c.salt.size(), c.iterations,
                   out.data(), out.size());
    EXPECT_EQ(ToHex(out.data(), out.size()), c.expected) << c.password << " / " << c.iterations;
  }
}

// Entries written by 7-Zip (7zz a -tzip -mx=0 -mem=AES128/192/256 -pkat-password) holding a 49-byte text:
// the data is salt, verifier, three counter blocks (the last one short) and the authentication code. This
// pins the key derivation (1000 iterations, key / HMAC key / verifier order), the little-endian counter
// starting at 1 and the HMAC over the ciphertext.
struct PeerEntry {
  TAesStrength strength;
  const char* data_hex;
};
const PeerEntry kPeerEntries[] = {
    {TAesStrength::kAes128,
     "82b60f3900353c4bb532a477bcb764505d3304416ef1738dbc9f5051c56c67173bb79ab4f4954ec6e22128c6c4ba2b20a5ac53af91ece6bb"
     "a0c72332a0705bd19e32bd1929"},
    {TAesStrength::kAes192,
     "b61c8348f798586c570de00bad7d644c5d89348612a13fe8f0a0b95edef04770ce3a059df42016ebda7e42b4730f1af7baf4cfe6d22c09db"
     "101b1c5c515ffa32f68cd125fb7a222249"},
    {TAesStrength::kAes256,
     "807db613b6601ec8975c3b00199f0b61ef03a21733f5da6973d8ed79bd7518aa2715b5d7db4f55db9b994fae540b61cfe86cde2d46d79bf5"
     "773cf11c41428c969df96783578675f9973421eac3"},
};
const std::string kPeerPlain = "Kestrova known answer: counter blocks 1, 2 and 3!";
const std::string kPeerPassword = "kat-password";

TEST(AesCryptTest, DecryptsPeerEntriesOfEveryStrength) {
  for (const PeerEntry& e : kPeerEntries) {
    SCOPED_TRACE(static_cast<int>(e.strength));
    std::vector<std::uint8_t> data = FromHex(e.data_hex);
    const auto salt_length = static_cast<std::size_t>(AesSaltLength(e.strength));
    ASSERT_EQ(data.size(), kPeerPlain.size() + static_cast<std::size_t>(AesOverhead(e.strength)));
    std::uint8_t* salt = data.data();
    std::uint8_t* verifier = salt + salt_length;
    std::uint8_t* body = verifier + 2;
    std::uint8_t* code = body + kPeerPlain.size();

    TAesDecryptor wrong;
    EXPECT_FALSE(wrong.Begin("kat-passwore", e.strength, salt, verifier));

    // Decrypted in uneven pieces: the key stream continues across calls.
    std::vector<std::uint8_t> body_copy(body, body + kPeerPlain.size());
    TAesDecryptor decryptor;
    ASSERT_TRUE(decryptor.Begin(kPeerPassword, e.strength, salt, verifier));
    decryptor.Decrypt(body_copy.data(), 5);
    decryptor.Decrypt(body_copy.data() + 5, 20);
    decryptor.Decrypt(body_copy.data() + 25, body_copy.size() - 25);
    EXPECT_EQ(std::string(body_copy.begin(), body_copy.end()), kPeerPlain);
    EXPECT_TRUE(decryptor.Verify(code));

    // Our writer, given the peer's salt, produces the peer's bytes exactly.
    TAesEncryptor encryptor;
    std::uint8_t preamble[TAesEncryptor::kAesPreambleMax];
    const int preamble_length = encryptor.Begin(kPeerPassword, e.strength, salt, preamble);
    ASSERT_EQ(preamble_length, static_cast<int>(salt_length) + 2);
    EXPECT_EQ(ToHex(preamble, static_cast<std::size_t>(preamble_length)), ToHex(salt, salt_length + 2));
    std::vector<std::uint8_t> cipher(kPeerPlain.size());
    encryptor.Encrypt(reinterpret_cast<const std::uint8_t*>(kPeerPlain.data()), cipher.data(), 17);
    encryptor.Encrypt(reinterpret_cast<const std::uint8_t*>(kPeerPlain.data()) + 17, cipher.data() + 17,
                      kPeerPlain.size() - 17);
    EXPECT_EQ(ToHex(cipher.data(), cipher.size()), ToHex(body, kPeerPlain.size()));
    const auto our_code = encryptor.Finish();
    EXPECT_EQ(ToHex(our_code.data(), 10), ToHex(code, 10));
  }
}

// The writer keeps one encryptor for all its entries and a reader may do the same: after Finish or Verify,
// Begin with another key starts afresh (no key stream, HMAC state or key of the entry before carries over).
TEST(AesCryptTest, OneEncryptorAndDecryptorServeEntryAfterEntry) {
  TAesEncryptor encryptor;
  TAesDecryptor decryptor;
  for (int round = 0; round < 2; ++round) {
    for (const PeerEntry& e : kPeerEntries) {
      SCOPED_TRACE(static_cast<int>(e.strength));
      const std::vector<std::uint8_t> data = FromHex(e.data_hex);
      const auto salt_length = static_cast<std::size_t>(AesSaltLength(e.strength));
      const std::uint8_t* body = data.data() + salt_length + 2;
      const std::uint8_t* code = body + kPeerPlain.size();
      std::uint8_t preamble[TAesEncryptor::kAesPreambleMax];
      encryptor.Begin(kPeerPassword, e.strength, data.data(), preamble);
      std::vector<std::uint8_t> cipher(kPeerPlain.size());
      encryptor.Encrypt(reinterpret_cast<const std::uint8_t*>(kPeerPlain.data()), cipher.data(), cipher.size());
      EXPECT_EQ(ToHex(cipher.data(), cipher.size()), ToHex(body, cipher.size()));
      const auto our_code = encryptor.Finish();
      EXPECT_EQ(ToHex(our_code.data(), 10), ToHex(code, 10));

      ASSERT_TRUE(decryptor.Begin(kPeerPassword, e.strength, data.data(), data.data() + salt_length));
      decryptor.Decrypt(cipher.data(), cipher.size());
      EXPECT_EQ(std::string(cipher.begin(), cipher.end()), kPeerPlain);
      EXPECT_TRUE(decryptor.Verify(code));
    }
  }
}

// One changed bit anywhere in the ciphertext, or in the stored code, fails the authentication; bytes
// passed through Authenticate count like decrypted ones.
TEST(AesCryptTest, AuthenticationCatchesEveryChangedByte) {
  const PeerEntry& e = kPeerEntries[2];
  const std::vector<std::uint8_t> original = FromHex(e.data_hex);
  const std::size_t body_start = 16 + 2;
  for (std::size_t flip = body_start; flip < original.size(); ++flip) {
    std::vector<std::uint8_t> data = original;
    data[flip] ^= 0x01;
    TAesDecryptor d;
    ASSERT_TRUE(d.Begin(kPeerPassword, e.strength, data.data(), data.data() + 16));
    d.Decrypt(data.data() + body_start, 30);
    d.Authenticate(data.data() + body_start + 30, kPeerPlain.size() - 30);
    EXPECT_FALSE(d.Verify(data.data() + body_start + kPeerPlain.size())) << "byte " << flip;
  }
  std::vector<std::uint8_t> data = original;
  TAesDecryptor d;
  ASSERT_TRUE(d.Begin(kPeerPassword, e.strength, data.data(), data.data() + 16));
  d.Decrypt(data.data() + body_start, 30);
  d.Authenticate(data.data() + body_start + 30, kPeerPlain.size() - 30);
  EXPECT_TRUE(d.Verify(data.data() + body_start + kPeerPlain.size()));
}

// A long run crosses the key-stream batches and the low counter byte's wrap: encrypting in one call and
// in odd pieces agree, and decrypting gives the plaintext back.
TEST(AesCryptTest, LongStreamsAgreeAcrossBatchesAndPieces) {
  std::vector<std::uint8_t> plain(300000);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  const std::uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  std::uint8_t preamble[TAesEncryptor::kAesPreambleMax];
  TAesEncryptor whole;
  whole.Begin("pw", TAesStrength::kAes256, salt, preamble);
  std::vector<std::uint8_t> a(plain.size());
  whole.Encrypt(plain.data(), a.data(), plain.size());
  TAesEncryptor pieces;
  pieces.Begin("pw", TAesStrength::kAes256, salt, preamble);
  std::vector<std::uint8_t> b = plain;
  for (std::size_t at = 0, step = 1; at < b.size(); at += step, step = step * 3 % 8191 + 1) {
    const std::size_t n = std::min(step, b.size() - at);
    pieces.Encrypt(b.data() + at, b.data() + at, n);
  }
  EXPECT_EQ(a, b);
  EXPECT_EQ(whole.Finish(), pieces.Finish());
  TAesDecryptor d;
  ASSERT_TRUE(d.Begin("pw", TAesStrength::kAes256, salt, preamble + 16));
  d.Decrypt(b.data(), b.size());
  EXPECT_EQ(b, plain);
}

// The pool (its worker starts at the second take) never hands out a salt twice, and every key belongs to
// its salt; a pool dropped while its worker derives ends cleanly.
TEST(AesCryptTest, KeyPoolHandsOutFreshSaltsWithTheirKeys) {
  std::set<std::array<std::uint8_t, 16>> salts;
  {
    TAesKeyPool pool("pool pw", TAesStrength::kAes192);
    for (int i = 0; i < 40; ++i) {
      const TAesKeyPool::Item item = pool.Take();
      EXPECT_TRUE(salts.insert(item.salt).second) << "salt repeated at " << i;
      EXPECT_EQ(std::count(item.salt.begin() + 12, item.salt.end(), 0), 4);  // 12 salt bytes for AES-192
      if (i % 8 == 0) {
        const TAesKeys keys = DeriveAesKeys("pool pw", item.salt.data(), TAesStrength::kAes192);
        EXPECT_EQ(keys.encryption_key, item.keys.encryption_key);
        EXPECT_EQ(keys.mac_key, item.keys.mac_key);
        EXPECT_EQ(keys.verifier, item.keys.verifier);
      }
    }
  }
  TAesKeyPool dropped("pw", TAesStrength::kAes256);
  dropped.Take();
  dropped.Take();
}

}  // namespace
}  // namespace kzb::zip
