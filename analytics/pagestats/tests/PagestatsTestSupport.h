// What the page-view client's tests share: a pinned clock and seed, a fixed device, event makers.
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "analytics/pagestats/PSHitBuilder.h"
#include "analytics/pagestats/PSRecords.h"

namespace dktest {

// The client's wall time reads exactly `secondsSince1970` until set again (the process clock is
// made virtual, so it stands still).
void setWallTime(double secondsSince1970);

// A 320x480 device speaking "fr" in Canada, account "UA-1-2"; random source seeded, time pinned.
std::shared_ptr<PSHitBuilder> fixedBuilder();

PSEvent pageView(const std::string& path, std::initializer_list<PSCustomVariable> variables = {});
PSEvent event(const std::string& category, const std::string& action, std::optional<std::string> label, int value,
              std::initializer_list<PSCustomVariable> variables = {});

// The value of `key` in a hit string ("" when absent).
std::string param(const std::string& hit, const std::string& key);

}  // namespace dktest

namespace dktest {

// Turns the main loop until `done` holds (false after 30 s of real time).
bool runMainUntil(const std::function<bool()>& done);

// Answers for the recording server: 200 with a 35-byte body, plus `extra` members ("" none).
std::string okAnswer(const std::string& extra = "");
// Points the page-view collector at `base` ("" restores the default).
void setCollector(const std::string& base);

}  // namespace dktest
