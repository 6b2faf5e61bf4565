#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/guid.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"

namespace {

TEST(ExitTest, TrapTurnsExitIntoAnExceptionAfterTheHandlers) {
  std::vector<std::string> order;
  platform::AddExitHandler([&] { order.push_back("registry"); });
  int mutex_handler = platform::AddExitHandler([&] { order.push_back("mutex"); });
  int removed = platform::AddExitHandler([&] { order.push_back("removed"); });
  platform::RemoveExitHandler(removed);
  {
    platform::ScopedExitTrap trap;
    try {
      ExitProcess(3);
      ADD_FAILURE() << "ExitProcess returned";
    } catch (const platform::ProcessExit& e) {
      EXPECT_EQ(e.code, 3);
    }
    // Handlers run once, newest first.
    EXPECT_EQ(order, (std::vector<std::string>{"mutex", "registry"}));
    try {
      platform::Exit(0);
    } catch (const platform::ProcessExit& e) {
      EXPECT_EQ(e.code, 0);
    }
    EXPECT_EQ(order.size(), 2u);
    // A handler may register another on the way out; it runs too.
    platform::AddExitHandler([&] { platform::AddExitHandler([&] { order.push_back("late"); }); });
    EXPECT_THROW(platform::Exit(9), platform::ProcessExit);
    EXPECT_EQ(order.back(), "late");
  }
  (void)mutex_handler;
  // Traps nest: the inner one is undone on leaving its scope.
  platform::ScopedExitTrap outer;
  int seen = -1;
  auto previous = platform::SetExitHook([&](int code) {
    seen = code;
    throw platform::ProcessExit{code + 100};
  });
  try {
    platform::Exit(5);
  } catch (const platform::ProcessExit& e) {
    EXPECT_EQ(e.code, 105);
  }
  EXPECT_EQ(seen, 5);
  platform::SetExitHook(previous);
  EXPECT_THROW(platform::Exit(1), platform::ProcessExit);
}

// Without a trap the process really ends with the code, after flushing.
TEST(ExitDeathTest, DefaultHookEndsTheProcess) {
  EXPECT_EXIT(
      {
        std::fputs("flushed before exit", stderr);
        platform::AddExitHandler([] { std::fputs(" handler ran", stderr); });
        ExitProcess(7);
      },
      ::testing::ExitedWithCode(7), "flushed before exit handler ran");
}

TEST(GuidTest, TextFormRoundTrips) {
  const GUID esp = {0xC12A7328, 0xF81F, 0x11D2, {0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B}};
  char16_t buf[39];
  EXPECT_EQ(StringFromGUID2(esp, buf, 39), 39);
  EXPECT_EQ(std::u16string(buf), u"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}");
  EXPECT_EQ(StringFromGUID2(esp, buf, 38), 0);  // no room for the terminator
  EXPECT_EQ(StringFromGUID2(esp, nullptr, 39), 0);

  struct Case {
    const char16_t* text;
    bool ok;
  } cases[] = {
      {u"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", true},
      {u"c12a7328-f81f-11d2-ba4b-00a0c93ec93b", true},
      {u"{c12a7328-f81f-11d2-ba4b-00a0c93ec93b}", true},
      {u"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B", false},
      {u"C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", false},
      {u"{C12A7328F81F-11D2-BA4B-00A0C93EC93B0}", false},
      {u"{C12A7328-F81F-11D2-BA4B-00A0C93EC93G}", false},
      {u"{C12A7328-F81F-11D2-BA4B-00A0C93EC93}", false},
      {u"", false},
  };
  for (const auto& c : cases) {
    GUID g = GUID_NULL;
    EXPECT_EQ(platform::ParseGuid(c.text, &g), c.ok) << platform::to_utf8(c.text);
    if (c.ok) EXPECT_TRUE(IsEqualGUID(g, esp)) << platform::to_utf8(c.text);
    else EXPECT_EQ(g, GUID_NULL);
  }
  GUID g;
  EXPECT_EQ(CLSIDFromString(u"{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}", &g), S_OK);
  EXPECT_EQ(g, esp);
  EXPECT_EQ(CLSIDFromString(u"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", &g), CO_E_CLASSSTRING);
  EXPECT_EQ(IIDFromString(u"junk", &g), E_INVALIDARG);
  EXPECT_EQ(IIDFromString(nullptr, &g), E_INVALIDARG);
}

TEST(GuidTest, SeededGuidsRepeatAndRandomOnesDoNot) {
  auto draw = [](int n) {
    std::vector<std::u16string> out;
    for (int i = 0; i < n; ++i) {
      GUID g;
      EXPECT_EQ(CoCreateGuid(&g), S_OK);
      EXPECT_EQ(g.Data3 >> 12, 4);           // version 4
      EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);    // RFC 4122 variant
      out.push_back(platform::GuidToString(g));
    }
    return out;
  };
  platform::SetGuidSeed(42);
  auto first = draw(50);
  platform::SetGuidSeed(42);
  EXPECT_EQ(draw(50), first);
  platform::SetGuidSeed(43);
  EXPECT_NE(draw(50), first);
  platform::UseRandomGuids();
  auto random = draw(200);
  EXPECT_EQ(std::set<std::u16string>(random.begin(), random.end()).size(), random.size());
  EXPECT_EQ(CoCreateGuid(nullptr), E_INVALIDARG);
}

}  // namespace

namespace {

struct ThreadOnlyExit {
  int code;
};

TEST(ExitTest, InterceptorEndsOnlyItsThreadWithoutRunningHandlers) {
  platform::ScopedExitTrap trap;
  bool handler_ran = false;
  int id = platform::AddExitHandler([&] { handler_ran = true; });
  auto previous = platform::SetExitInterceptor([](int code) {
    if (code == 42) throw ThreadOnlyExit{code};  // a stand-in program on its own thread
  });
  EXPECT_THROW(ExitProcess(42), ThreadOnlyExit);
  EXPECT_FALSE(handler_ran);
  // Any other caller exits the usual way.
  EXPECT_THROW(ExitProcess(1), platform::ProcessExit);
  EXPECT_TRUE(handler_ran);
  platform::SetExitInterceptor(previous);
  platform::RemoveExitHandler(id);
}

}  // namespace
