// The start-time check of the one-touch-boot service: when its start command
// is still pending in the RunOnce key and no service process is registered,
// the check starts the service itself and verifies that its process exists.
#pragma once

// Registry values (HKEY_LOCAL_MACHINE), read as text.
inline constexpr const char16_t* kOtbServiceKey = u"Software\\Corvelware\\ZvqServ";
inline constexpr const char16_t* kOtbServiceValue = u"ZvqServ";  // decimal process id, empty when none
inline constexpr const char16_t* kOtbRunOnceKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const char16_t* kOtbStartValue = u"ZvqServStart";  // start command while pending

// Shows IDS_OTB_FAIL when the service cannot be brought up; always returns
// (after a 500 ms pause), the main dialog goes on.
void CheckOneTouchBootService();
