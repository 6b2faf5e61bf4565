// The HTTP client calls against the loopback server (loopback_http_server.py):
// a whole answer byte for byte, a resumed read with a range (and against a
// server that ignores ranges), a body cut short, 404, an answer without a
// length, a host the machine does not route, a server that has gone; and
// the machine.ini [network] lines that may and may not route a host.
#include "platform/net/wininet.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "../usbwriter/fixture_iso.h"
#include "disk/fixture_images.h"
#include "net/fixture_http.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/machine/machine.h"

namespace {

using disk_fixture::SimulatedPc;
using http_fixture::LoopbackServer;

constexpr char16_t kHost[] = u"download.kit-vendor.example";

std::string Body(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 7;
  for (char& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

// One open request; the handles close with the object.
struct Download {
  HINTERNET internet = nullptr, connect = nullptr, request = nullptr;
  ~Download() {
    for (HINTERNET h : {request, connect, internet})
      if (h) InternetCloseHandle(h);
  }
  bool Open(const char16_t* object, const char16_t* host = kHost) {
    internet = InternetOpenW(u"HTTPDUMP_DEMO", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!internet) return false;
    connect = InternetConnectW(internet, host, 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connect) return false;
    request = HttpOpenRequestW(connect, u"GET", object, u"HTTP/1.0", nullptr, nullptr, 0, 0);
    return request && HttpSendRequestW(request, nullptr, 0, nullptr, 0);
  }
  DWORD Status() {
    DWORD status = 0, length = sizeof(status);
    EXPECT_TRUE(HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr));
    return status;
  }
  // Reads in 16 KiB chunks until the end or a failure (*error its code).
  std::string ReadRest(DWORD* error = nullptr, size_t limit = SIZE_MAX) {
    std::string got;
    char buffer[16384];
    if (error) *error = 0;
    while (got.size() < limit) {
      DWORD n = 0;
      if (!InternetReadFile(request, buffer, static_cast<DWORD>(std::min<size_t>(sizeof(buffer), limit - got.size())), &n)) {
        if (error) *error = GetLastError();
        break;
      }
      if (n == 0) break;
      got.append(buffer, n);
    }
    return got;
  }
};

class WinInetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    body_ = Body(700 * 1024 + 123);
    std::ofstream(scratch_.file("KB3AIK_EN.iso"), std::ios::binary) << body_;
    server_ = std::make_unique<LoopbackServer>(scratch_.file("KB3AIK_EN.iso"));
    ASSERT_NE(server_->port(), 0);
    pc_.AppendIni("\n[network]\ndownload.kit-vendor.example = " + server_->endpoint() + "\n");
    pc_.Boot();
  }

  iso_fixture::TempFolder scratch_;
  std::string body_;
  std::unique_ptr<LoopbackServer> server_;
  SimulatedPc pc_;
};

TEST_F(WinInetTest, WholeAnswerByteForByte) {
  Download d;
  ASSERT_TRUE(d.Open(u"full/KB3AIK_EN.iso")) << GetLastError();
  EXPECT_EQ(d.Status(), HTTP_STATUS_OK);
  EXPECT_EQ(InternetSetFilePointer(d.request, 0, nullptr, FILE_END, 0), body_.size());
  EXPECT_EQ(InternetSetFilePointer(d.request, 0, nullptr, FILE_BEGIN, 0), 0u);
  DWORD error = 0;
  EXPECT_TRUE(d.ReadRest(&error) == body_);
  EXPECT_EQ(error, 0u);
  // The machine logs where the name went.
  std::ifstream log(pc_.folder() + "/machine.log");
  std::string text((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(text.find("GET download.kit-vendor.example/full/KB3AIK_EN.iso via 127.0.0.1:" +
                      std::to_string(server_->port())),
            std::string::npos)
      << text;
}

TEST_F(WinInetTest, ResumeFromWhereThePauseLeftOff) {
  for (const char16_t* object : {u"full/KB3AIK_EN.iso", u"norange/KB3AIK_EN.iso"}) {
    SCOPED_TRACE(platform::to_utf8(object));
    std::string first;
    {
      Download d;
      ASSERT_TRUE(d.Open(object));
      first = d.ReadRest(nullptr, 100000);
      ASSERT_EQ(first.size(), 100000u);
    }  // paused: every handle closed
    Download d;
    ASSERT_TRUE(d.Open(object));
    EXPECT_EQ(InternetSetFilePointer(d.request, 0, nullptr, FILE_END, 0), body_.size());
    EXPECT_EQ(InternetSetFilePointer(d.request, 100000, nullptr, FILE_BEGIN, 0), 100000u);
    DWORD error = 0;
    std::string rest = d.ReadRest(&error);
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(first + rest == body_) << "resumed " << rest.size() << " bytes";
    // Asking for the end reads nothing more.
    char c;
    DWORD n = 5;
    EXPECT_TRUE(InternetReadFile(d.request, &c, 1, &n));
    EXPECT_EQ(n, 0u);
  }
}

TEST_F(WinInetTest, BrokenAnswers) {
  {
    SCOPED_TRACE("cut short");
    Download d;
    ASSERT_TRUE(d.Open(u"truncated/KB3AIK_EN.iso"));
    EXPECT_EQ(InternetSetFilePointer(d.request, 0, nullptr, FILE_END, 0), body_.size());
    InternetSetFilePointer(d.request, 0, nullptr, FILE_BEGIN, 0);
    DWORD error = 0;
    std::string got = d.ReadRest(&error);
    EXPECT_EQ(error, ERROR_INTERNET_CONNECTION_RESET);
    EXPECT_EQ(got, body_.substr(0, body_.size() / 2));
  }
  {
    SCOPED_TRACE("not found");
    Download d;
    ASSERT_TRUE(d.Open(u"full/KB3AIK_JA.iso"));
    EXPECT_EQ(d.Status(), HTTP_STATUS_NOT_FOUND);
  }
  {
    SCOPED_TRACE("no length");
    Download d;
    ASSERT_TRUE(d.Open(u"nolength/KB3AIK_EN.iso"));
    EXPECT_EQ(d.Status(), HTTP_STATUS_OK);
    EXPECT_EQ(InternetSetFilePointer(d.request, 0, nullptr, FILE_END, 0), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INVALID_OPERATION);
    DWORD value = 0, length = sizeof(value);
    EXPECT_FALSE(HttpQueryInfoW(d.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    EXPECT_TRUE(d.ReadRest() == body_);
  }
}

TEST_F(WinInetTest, UnreachableHosts) {
  {
    Download d;
    EXPECT_FALSE(d.Open(u"full/KB3AIK_EN.iso", u"elsewhere.example"));
    EXPECT_EQ(d.connect, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
  }
  server_->Stop();
  Download d;
  EXPECT_FALSE(d.Open(u"full/KB3AIK_EN.iso"));
  EXPECT_NE(d.request, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
  EXPECT_FALSE(InternetCloseHandle(reinterpret_cast<HINTERNET>(&d)));
}

TEST(NetworkRoutes, OnlyLoopbackEndpoints) {
  struct Case {
    const char* value;
    bool ok;
    const char* address;
  } cases[] = {
      {"127.0.0.1:8080", true, "127.0.0.1"}, {"127.1.2.3:65535", true, "127.1.2.3"},
      {"localhost:1", true, "127.0.0.1"},     {"[::1]:80", true, "::1"},
      {"10.0.0.1:80", false, ""},            {"128.0.0.1:80", false, ""},
      {"example.com:80", false, ""},         {"127.0.0.1", false, ""},
      {"127.0.0.1:0", false, ""},            {"127.0.0.1:65536", false, ""},
      {"127.0.0:80", false, ""},             {"127.0.0.256:80", false, ""},
      {"[::2]:80", false, ""},               {"127.0.0.1.5:80", false, ""},
  };
  for (const Case& c : cases) {
    std::string error;
    auto config = platform::machine::ParseMachineIni(std::string("[network]\nkit.example = ") + c.value + "\n", &error);
    EXPECT_EQ(config.has_value(), c.ok) << c.value << ": " << error;
    if (!config || !c.ok) continue;
    ASSERT_NE(config->find_route("KIT.example"), nullptr);
    EXPECT_EQ(config->find_route("kit.example")->address, c.address);
    auto again = platform::machine::ParseMachineIni(platform::machine::FormatMachineIni(*config), &error);
    ASSERT_TRUE(again.has_value()) << error;
    EXPECT_EQ(*again, *config);
  }
  std::string error;
  EXPECT_FALSE(platform::machine::ParseMachineIni("[network]\na = 127.0.0.1:1\nA = 127.0.0.1:2\n", &error));
  EXPECT_NE(error.find("twice"), std::string::npos);
}

}  // namespace
