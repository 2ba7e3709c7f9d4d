// Salts and keys for AES entries, derived ahead on a second thread.
//
// Every AES entry needs a fresh salt and its own key derivation (PBKDF2, 1000 iterations of HMAC-SHA1,
// about a millisecond), which for small files costs more than compressing them. The derivation depends on
// nothing but the password and a random salt, so a worker thread can run it while the writer compresses
// the entries before. Take hands out the oldest ready pair, or derives one on the calling thread when
// none is ready (the writer never waits for the worker). The worker keeps at most kAhead pairs ready and
// sleeps otherwise; the destructor stops and joins it. Pairs are used once and erased when handed out or
// dropped.
//
// What it does not do: reuse a salt or a key for two entries (that would repeat the key stream), or
// derive anything before the second entry (a small archive starts no thread).
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "zip/crypt/aes_crypt.h"

namespace kzb::zip {

class TAesKeyPool {
 public:
  struct Item {
    std::array<std::uint8_t, 16> salt{};
    TAesKeys keys;
  };

  TAesKeyPool(std::string password, TAesStrength strength);
  ~TAesKeyPool();
  TAesKeyPool(const TAesKeyPool&) = delete;
  TAesKeyPool& operator=(const TAesKeyPool&) = delete;

  const std::string& Password() const { return password_; }
  TAesStrength Strength() const { return strength_; }
  // A fresh salt (AesSaltLength bytes from the system's random source) and its keys.
  Item Take();

 private:
  // Pairs kept ready: enough to cover a run of tiny files, few enough that little work is thrown away at
  // the end of a run.
  static constexpr std::size_t kAhead = 8;

  Item Derive() const;
  void Run();

  const std::string password_;
  const TAesStrength strength_;
  int taken_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> ready_;
  bool stop_ = false;
  bool failed_ = false;  // the worker met an error; Take derives on its own from then on
  std::thread worker_;
};

}  // namespace kzb::zip
