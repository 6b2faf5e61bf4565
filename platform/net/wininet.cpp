#include "platform/net/wininet.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/machine/machine.h"

namespace {

// A stalled server: a transfer that moves no byte for this long fails.
constexpr long kStallSeconds = 30;
constexpr long kConnectMilliseconds = 5000;

struct InternetObject {
  virtual ~InternetObject() = default;
};

struct Session : InternetObject {
  std::string agent;
};

struct Connection : InternetObject {
  std::shared_ptr<Session> session;
  std::string host;  // as the program named it
  INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
  platform::machine::NetworkRoute route;
};

struct Request : InternetObject {
  ~Request() override { Stop(); }

  std::shared_ptr<Connection> connection;
  std::string verb = "GET";
  std::string object;
  bool http10 = false;

  // The transfer in flight.
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  bool headersDone = false;
  bool finished = false;
  CURLcode result = CURLE_OK;
  // Received bytes; those before pendingAt are handed out already. Reads
  // move pendingAt instead of erasing the front (which would move the rest
  // of the buffer on every read); the buffer is compacted as it grows.
  std::string pending;
  size_t pendingAt = 0;
  uint64_t skip = 0;          // body bytes to drop (a range the server ignored)
  uint64_t streamAt = 0;      // body position of the first byte not handed out

  size_t Available() const { return pending.size() - pendingAt; }
  void Append(const char* data, size_t n) {
    if (pendingAt > 0 && pendingAt >= pending.size() / 2) {
      pending.erase(0, pendingAt);
      pendingAt = 0;
    }
    pending.append(data, n);
  }
  void Consume(size_t n) {
    pendingAt += n;
    if (pendingAt == pending.size()) {
      pending.clear();
      pendingAt = 0;
    }
  }

  // The answer.
  bool sent = false;
  long status = 0;
  int64_t total = -1;         // the whole body's length, -1 unknown
  uint64_t wanted = 0;        // where the program's next read starts

  void Stop() {
    if (easy) {
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
      easy = nullptr;
    }
    if (multi) {
      curl_multi_cleanup(multi);
      multi = nullptr;
    }
  }

  bool Start(uint64_t from);
  // Runs the transfer until `done` holds or it ends.
  template <typename Done>
  void Pump(Done done) {
    while (!finished && !done()) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE) {
          finished = true;
          result = message->data.result;
        }
      }
      if (finished || done()) break;
      curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
  }
};

std::mutex table_lock;
std::set<InternetObject*> live;
std::set<std::shared_ptr<InternetObject>, std::owner_less<>> owned;

HINTERNET Register(std::shared_ptr<InternetObject> object) {
  std::lock_guard<std::mutex> hold(table_lock);
  live.insert(object.get());
  owned.insert(object);
  return object.get();
}

template <typename T>
std::shared_ptr<T> Find(HINTERNET handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  if (!handle || !live.count(static_cast<InternetObject*>(handle))) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  for (const auto& o : owned) {
    if (o.get() == handle) {
      auto typed = std::dynamic_pointer_cast<T>(o);
      if (!typed) SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      return typed;
    }
  }
  return nullptr;
}

std::string Narrow(LPCWSTR text) { return text ? platform::to_utf8(std::u16string_view(text)) : std::string(); }

void InitCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  size_t n = size * count;
  std::string_view line(data, n);
  if (line.rfind("HTTP/", 0) == 0) {
    r->headersDone = false;  // a new answer (after 100 Continue)
  } else if (line == "\r\n" || line == "\n") {
    r->headersDone = true;
  }
  return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  size_t n = size * count;
  size_t drop = static_cast<size_t>(std::min<uint64_t>(r->skip, n));
  r->skip -= drop;
  r->Append(data + drop, n - drop);
  return n;
}

bool Request::Start(uint64_t from) {
  Stop();
  InitCurl();
  multi = curl_multi_init();
  easy = curl_easy_init();
  if (!multi || !easy) return platform::fail(ERROR_INTERNET_INTERNAL_ERROR);
  headersDone = finished = false;
  result = CURLE_OK;
  pending.clear();
  pendingAt = 0;
  skip = 0;
  streamAt = from;

  const Connection& c = *connection;
  std::string url = "http://" + c.host + ":" + std::to_string(c.port) + "/" + object;
  // The name keeps its place in the URL and the Host header; the socket goes
  // to the loopback address that machine.ini gives for it.
  std::string target = c.route.address.find(':') != std::string::npos ? "[" + c.route.address + "]" : c.route.address;
  std::string connectTo = c.host + ":" + std::to_string(c.port) + ":" + target + ":" + std::to_string(c.route.port);
  curl_slist* connectList = curl_slist_append(nullptr, connectTo.c_str());
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectList);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(easy, CURLOPT_USERAGENT, c.session->agent.c_str());
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, verb.c_str());
  if (verb == "HEAD") curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectMilliseconds);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  std::string range = std::to_string(from) + "-";
  if (from) curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());
  curl_multi_add_handle(multi, easy);

  Pump([this] { return headersDone; });
  curl_slist_free_all(connectList);  // used while connecting only
  platform::machine::Log("http", verb + " " + c.host + "/" + object + (from ? " from " + std::to_string(from) : "") +
                                     " via " + target + ":" + std::to_string(c.route.port));
  if (!headersDone) {
    DWORD code = result == CURLE_OPERATION_TIMEDOUT ? ERROR_INTERNET_TIMEOUT : ERROR_INTERNET_CANNOT_CONNECT;
    Stop();
    return platform::fail(code);
  }
  long code = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
  curl_off_t length = -1;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  status = code;
  if (from && code == 206) {
    total = length >= 0 ? static_cast<int64_t>(from) + length : -1;
  } else {
    // A whole answer: the server ignored the range (or none was asked).
    if (length >= 0) total = length;
    // Bytes already in pending belong to the start of the body too.
    uint64_t drop = std::min<uint64_t>(from, Available());
    Consume(static_cast<size_t>(drop));
    skip = from - drop;
  }
  return TRUE;
}

}  // namespace

HINTERNET InternetOpenW(LPCWSTR agent, DWORD, LPCWSTR, LPCWSTR, DWORD) {
  auto session = std::make_shared<Session>();
  session->agent = Narrow(agent);
  return Register(session);
}

HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR server, INTERNET_PORT port, LPCWSTR, LPCWSTR, DWORD service,
                           DWORD, DWORD_PTR) {
  auto session = Find<Session>(internet);
  if (!session) return nullptr;
  if (service != INTERNET_SERVICE_HTTP || !server || !*server) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->session = session;
  connection->host = Narrow(server);
  connection->port = port ? port : INTERNET_DEFAULT_HTTP_PORT;
  auto machine = platform::machine::Current();
  const platform::machine::NetworkRoute* route = nullptr;
  platform::machine::MachineConfig config;
  if (machine) {
    config = machine->config();
    route = config.find_route(connection->host);
  }
  if (!route) {
    platform::machine::Log("http", "no route to " + connection->host);
    SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
    return nullptr;
  }
  connection->route = *route;
  return Register(connection);
}

HINTERNET HttpOpenRequestW(HINTERNET connect, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR, LPCWSTR*,
                           DWORD, DWORD_PTR) {
  auto connection = Find<Connection>(connect);
  if (!connection) return nullptr;
  auto request = std::make_shared<Request>();
  request->connection = connection;
  if (verb && *verb) request->verb = Narrow(verb);
  request->object = Narrow(object);
  while (!request->object.empty() && request->object.front() == '/') request->object.erase(0, 1);
  // Control characters would split the request line.
  for (char ch : request->object + request->verb) {
    if (static_cast<unsigned char>(ch) < 0x21 && ch != ' ') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  request->http10 = Narrow(version) == "HTTP/1.0";
  return Register(request);
}

BOOL HttpSendRequestW(HINTERNET handle, LPCWSTR, DWORD, LPVOID, DWORD) {
  auto request = Find<Request>(handle);
  if (!request) return FALSE;
  request->sent = false;
  request->total = -1;
  request->wanted = 0;
  if (!request->Start(0)) return FALSE;
  request->sent = true;
  return TRUE;
}

BOOL HttpQueryInfoW(HINTERNET handle, DWORD info_level, LPVOID buffer, LPDWORD length, LPDWORD) {
  auto request = Find<Request>(handle);
  if (!request) return FALSE;
  if (!request->sent || !length) return platform::fail(ERROR_INTERNET_INVALID_OPERATION);
  DWORD what = info_level & 0xFFFF;
  uint64_t value = 0;
  if (what == HTTP_QUERY_STATUS_CODE) {
    value = static_cast<uint64_t>(request->status);
  } else if (what == HTTP_QUERY_CONTENT_LENGTH) {
    if (request->total < 0) return platform::fail(ERROR_HTTP_HEADER_NOT_FOUND);
    value = static_cast<uint64_t>(request->total);
  } else {
    return platform::fail(ERROR_HTTP_HEADER_NOT_FOUND);
  }
  if (info_level & HTTP_QUERY_FLAG_NUMBER) {
    if (*length < sizeof(DWORD) || !buffer) {
      *length = sizeof(DWORD);
      return platform::fail(ERROR_INSUFFICIENT_BUFFER);
    }
    *static_cast<DWORD*>(buffer) = static_cast<DWORD>(value);
    *length = sizeof(DWORD);
    return TRUE;
  }
  std::u16string text = platform::to_utf16(std::to_string(value));
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(char16_t));
  if (*length < bytes + sizeof(char16_t) || !buffer) {
    *length = bytes + sizeof(char16_t);
    return platform::fail(ERROR_INSUFFICIENT_BUFFER);
  }
  memcpy(buffer, text.c_str(), bytes + sizeof(char16_t));
  *length = bytes;
  return TRUE;
}

DWORD InternetSetFilePointer(HINTERNET handle, LONG distance, PLONG distance_high, DWORD method, DWORD_PTR) {
  auto request = Find<Request>(handle);
  if (!request) return INVALID_SET_FILE_POINTER;
  if (!request->sent) {
    SetLastError(ERROR_INTERNET_INVALID_OPERATION);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distance_high ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32) |
                                                      static_cast<uint32_t>(distance))
                               : (method == FILE_BEGIN ? static_cast<int64_t>(static_cast<uint32_t>(distance))
                                                       : static_cast<int64_t>(distance));
  int64_t base = 0;
  if (method == FILE_CURRENT) {
    base = static_cast<int64_t>(request->wanted);
  } else if (method == FILE_END) {
    if (request->total < 0) {
      SetLastError(ERROR_INTERNET_INVALID_OPERATION);
      return INVALID_SET_FILE_POINTER;
    }
    base = request->total;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t to = base + move;
  if (to < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  request->wanted = static_cast<uint64_t>(to);
  if (distance_high) *distance_high = static_cast<LONG>(static_cast<uint64_t>(to) >> 32);
  return static_cast<DWORD>(to);
}

BOOL InternetReadFile(HINTERNET handle, LPVOID buffer, DWORD to_read, LPDWORD read) {
  if (!read) return platform::fail(ERROR_INVALID_PARAMETER);
  *read = 0;
  auto request = Find<Request>(handle);
  if (!request) return FALSE;
  Request& r = *request;
  if (!r.sent) return platform::fail(ERROR_INTERNET_INVALID_OPERATION);
  if (to_read == 0) return TRUE;
  if (r.total >= 0 && r.wanted >= static_cast<uint64_t>(r.total)) return TRUE;  // at the end
  if (r.wanted != r.streamAt || (!r.easy && r.Available() == 0)) {
    if (!r.Start(r.wanted)) return FALSE;
  }
  r.Pump([&r] { return r.Available() > 0; });
  size_t n = std::min<size_t>(to_read, r.Available());
  if (n == 0) {
    if (r.result == CURLE_OK) return TRUE;
    platform::machine::Log("http", std::string("transfer broke off: ") + curl_easy_strerror(r.result));
    return platform::fail(r.result == CURLE_OPERATION_TIMEDOUT ? ERROR_INTERNET_TIMEOUT
                                                               : ERROR_INTERNET_CONNECTION_RESET);
  }
  memcpy(buffer, r.pending.data() + r.pendingAt, n);
  r.Consume(n);
  r.streamAt += n;
  r.wanted = r.streamAt;
  *read = static_cast<DWORD>(n);
  return TRUE;
}

BOOL InternetCloseHandle(HINTERNET handle) {
  std::shared_ptr<InternetObject> object;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    if (!handle || !live.erase(static_cast<InternetObject*>(handle))) return platform::fail(ERROR_INVALID_HANDLE);
    for (auto it = owned.begin(); it != owned.end(); ++it) {
      if (it->get() == handle) {
        object = *it;
        owned.erase(it);
        break;
      }
    }
  }
  return TRUE;  // the object (and its transfer) goes when the last user lets go
}
