// The HTTP client calls of the platform (the WinInet subset the programs
// use), carried by libcurl. Which server a host name reaches is the
// simulated PC's business: its machine.ini [network] section maps a host to
// a loopback address and port; a host it does not list cannot be reached,
// as when the PC is offline. Redirects are not followed and proxies from the
// environment are ignored, so nothing leaves this machine.
//
// A request is sent by HttpSendRequestW and its body read in order by
// InternetReadFile. InternetSetFilePointer moves the read position; the
// next read then asks the server again from there with a byte range (a
// server that ignores the range has the bytes before it skipped). A body
// that ends before its announced length makes InternetReadFile fail with
// ERROR_INTERNET_CONNECTION_RESET; the normal end reads 0 bytes.
#pragma once

#include "platform/core/types.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;

inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;

inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;
inline constexpr DWORD HTTP_STATUS_OK = 200;
inline constexpr DWORD HTTP_STATUS_PARTIAL_CONTENT = 206;
inline constexpr DWORD HTTP_STATUS_NOT_FOUND = 404;

inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_INVALID_OPERATION = 12016;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
inline constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;

HINTERNET InternetOpenW(LPCWSTR agent, DWORD access_type, LPCWSTR proxy, LPCWSTR proxy_bypass, DWORD flags);
// Fails with ERROR_INTERNET_NAME_NOT_RESOLVED for a host the PC cannot reach.
HINTERNET InternetConnectW(HINTERNET internet, LPCWSTR server, INTERNET_PORT port, LPCWSTR user, LPCWSTR password,
                           DWORD service, DWORD flags, DWORD_PTR context);
HINTERNET HttpOpenRequestW(HINTERNET connect, LPCWSTR verb, LPCWSTR object, LPCWSTR version, LPCWSTR referrer,
                           LPCWSTR* accept_types, DWORD flags, DWORD_PTR context);
// Sends the request and waits for the answer's headers. Any HTTP status is
// a success here; HttpQueryInfoW tells it.
BOOL HttpSendRequestW(HINTERNET request, LPCWSTR headers, DWORD headers_length, LPVOID optional,
                      DWORD optional_length);
// The status code or the Content-Length of the answer, as a DWORD with
// HTTP_QUERY_FLAG_NUMBER, else as text (*length in bytes).
BOOL HttpQueryInfoW(HINTERNET request, DWORD info_level, LPVOID buffer, LPDWORD length, LPDWORD index);
// FILE_END needs the body's length (ERROR_INTERNET_INVALID_OPERATION when
// the server sent none). Returns the new position's low 32 bits, its high
// half in *distance_high when given; INVALID_SET_FILE_POINTER on failure.
DWORD InternetSetFilePointer(HINTERNET request, LONG distance, PLONG distance_high, DWORD method, DWORD_PTR context);
BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD to_read, LPDWORD read);
BOOL InternetCloseHandle(HINTERNET handle);
