// A device identifier every application using the same scheme agrees on: each keeps its copy in
// its user defaults and a redundant one in one of 100 shared persistent pasteboards (slots); the
// first call in a process reads every slot, takes the identifier most applications hold and claims
// a free slot.
//
// Only 40 lower-case hex digits vote: a slot holding anything else counts as free. Among equal
// counts the identifier first seen in the later slot wins. The application's record lives in the
// user defaults under "SharedUDID", a binary property list copy of it in the slot it claims. The
// application's UUID is read from the defaults' top level alone (a new one each process when
// absent), so opting out keeps working through the date stored beside the identifier. A fresh
// identifier's random part comes from plat::sys::randomUniform, which a seed makes repeatable.
#pragma once

#include <functional>
#include <string>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class SharedUDID {
public:
    // The scheme's name: the slots' data type, the error domain and the stem of slot names.
    static constexpr const char* kScheme = "com.drovik.sharedudid";
    static constexpr const char* kSlotStem = "com.drovik.sharedudid.slot.";
    static constexpr int kSlotCount = 100;

    static std::string value();
    // `error`, when given, always receives the outcome, code 0 included.
    static std::string valueWithError(plat::foundation::Error* error);
    static void setOptOut(bool optOut);

    // Seconds since 1970 for the dates written (the host's wall clock by default).
    static void setWallClock(std::function<double()> now);

    // The slot's dictionary: the archived data of the scheme's type when it is a dictionary, else
    // empty (also when the pasteboard is missing).
    static plat::foundation::Value::Dictionary dictFromPasteboard(const std::string& pasteboardName);
    static bool setDictForPasteboard(const plat::foundation::Value::Dictionary& dict,
                                     const std::string& pasteboardName);
    static std::string generateFreshSharedUDID();
};
