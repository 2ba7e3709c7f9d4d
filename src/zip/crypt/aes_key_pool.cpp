#include "zip/crypt/aes_key_pool.h"

#include <system_error>
#include <utility>

#include "platform/random.h"

namespace kzb::zip {

TAesKeyPool::TAesKeyPool(std::string password, TAesStrength strength)
    : password_(std::move(password)), strength_(strength) {}

TAesKeyPool::~TAesKeyPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
  for (Item& item : ready_) WipeBytes(&item, sizeof item);
}

TAesKeyPool::Item TAesKeyPool::Derive() const {
  Item item;
  platform::FillRandom(item.salt.data(), static_cast<std::size_t>(AesSaltLength(strength_)));
  item.keys = DeriveAesKeys(password_, item.salt.data(), strength_);
  return item;
}

TAesKeyPool::Item TAesKeyPool::Take() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.empty()) {
      Item item = ready_.front();
      WipeBytes(&ready_.front(), sizeof(Item));
      ready_.pop_front();
      lock.unlock();
      wake_.notify_one();
      return item;
    }
  }
  // From the second entry on, a worker derives ahead (a thread that cannot start leaves the work here).
  if (++taken_ == 2 && !worker_.joinable()) {
    try {
      worker_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
  }
  return Derive();
}

void TAesKeyPool::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_ && !failed_) {
    if (ready_.size() >= kAhead) {
      wake_.wait(lock);
      continue;
    }
    lock.unlock();
    Item item;
    bool ok = true;
    try {
      item = Derive();
    } catch (...) {
      ok = false;  // the same error reaches the writer when it derives on its own
    }
    lock.lock();
    if (!ok) {
      failed_ = true;
    } else if (!stop_) {
      ready_.push_back(item);
    }
    WipeBytes(&item, sizeof item);
  }
}

}  // namespace kzb::zip
