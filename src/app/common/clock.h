// The application's source of the current local date and time. Everything that asks "what time is it"
// (threshold defaults, log dates, date-stamped archive names, due times) goes through a Clock so that the
// scheduler and the runs can be tested with a clock that the test moves by hand.
#pragma once

#include "platform/date_time.h"

namespace kzb::app {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual platform::DateTime Now() const = 0;
};

// The system's local clock.
class SystemClock : public Clock {
 public:
  platform::DateTime Now() const override { return platform::DateTime::Now(); }
};

// A clock that stands still until it is set or advanced.
class ManualClock : public Clock {
 public:
  explicit ManualClock(platform::DateTime now) : now_(now) {}
  platform::DateTime Now() const override { return now_; }
  void Set(platform::DateTime now) { now_ = now; }
  void AdvanceMinutes(double minutes) { now_ = now_.AddMinutes(minutes); }
  void AdvanceDays(double days) { now_ = now_.AddDays(days); }

 private:
  platform::DateTime now_;
};

}  // namespace kzb::app
