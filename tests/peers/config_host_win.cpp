// Stands in for the vendor's configuration host: a plain HTTP/1.1 server on
// loopback that serves the files of one folder, one request per connection.
//
//   config_host <port> <folder> [--not-found] [--no-length] [--huge-length]
//               [--short] [--slow] [--ready <event>] [--log <file>]
//
// --not-found  every request gets a 404 page (with a Content-Length)
// --no-length  the body comes without Content-Length, ended by the close
// --huge-length  announces 5000000000 bytes, sends the file and closes
// --short      announces ten bytes more than it sends, then closes
// --slow       sends the headers, waits 30 s (or until the client goes away),
//              then the body
// --ready      an event of the test's, set once the port listens
// --log        every request head received is appended to this file
//
// A missing file is a 404 page as well. Runs until it is ended.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

#include "base/unique_handle_win.h"

namespace {

using veltrona::ScopedWinsock;
using veltrona::UniqueEvent;
using veltrona::UniqueFile;
using veltrona::UniqueSocket;

struct Options {
  unsigned short port = 0;
  std::wstring folder;
  bool not_found = false;
  bool no_length = false;
  bool huge_length = false;
  bool short_body = false;
  bool slow = false;
  std::wstring ready_event;
  std::wstring log_file;
};

constexpr std::string_view kNotFoundPage = "<html><body><h1>404 Not Found</h1></body></html>";
constexpr DWORD kSlowHoldMs = 30000;
constexpr size_t kMaxHeadBytes = 64 * 1024;

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  if (argc < 3) return false;
  const long port = std::wcstol(argv[1], nullptr, 10);
  if (port <= 0 || port > 65535) return false;
  options.port = static_cast<unsigned short>(port);
  options.folder = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    if (arg == L"--not-found") {
      options.not_found = true;
    } else if (arg == L"--no-length") {
      options.no_length = true;
    } else if (arg == L"--huge-length") {
      options.huge_length = true;
    } else if (arg == L"--short") {
      options.short_body = true;
    } else if (arg == L"--slow") {
      options.slow = true;
    } else if (arg == L"--ready" && i + 1 < argc) {
      options.ready_event = argv[++i];
    } else if (arg == L"--log" && i + 1 < argc) {
      options.log_file = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

bool SendAll(SOCKET socket, std::string_view data) {
  while (!data.empty()) {
    const int sent = ::send(socket, data.data(), static_cast<int>(data.size()), 0);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string ReadHead(SOCKET socket) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHeadBytes) {
    const int received = ::recv(socket, buffer, sizeof buffer, 0);
    if (received <= 0) break;
    head.append(buffer, static_cast<size_t>(received));
  }
  return head;
}

void AppendLog(const Options& options, const std::string& head) {
  if (options.log_file.empty()) return;
  const UniqueFile file(::CreateFileW(options.log_file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  ::WriteFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &written, nullptr);
}

// The file a request target names inside the folder; empty when it names
// none (query dropped, "/" separators, no ".." or drive).
std::wstring FileForTarget(const Options& options, const std::string& target) {
  std::string path = target.substr(0, target.find('?'));
  if (path.empty() || path.front() != '/') return {};
  path.erase(0, 1);
  if (path.empty() || path.find("..") != std::string::npos || path.find(':') != std::string::npos ||
      path.find('\\') != std::string::npos) {
    return {};
  }
  std::wstring relative;
  for (char c : path) relative.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return options.folder + L"\\" + relative;
}

bool ReadWholeFile(const std::wstring& path, std::string& data) {
  const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[16384];
  DWORD read = 0;
  for (;;) {
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return false;
    if (read == 0) return true;
    data.append(buffer, read);
  }
}

void Respond(SOCKET socket, const Options& options, const std::string& head) {
  const size_t line_end = head.find("\r\n");
  const std::string line = head.substr(0, line_end);
  const size_t first_blank = line.find(' ');
  const size_t second_blank = line.find(' ', first_blank == std::string::npos ? 0 : first_blank + 1);
  std::string target;
  if (first_blank != std::string::npos && second_blank != std::string::npos) {
    target = line.substr(first_blank + 1, second_blank - first_blank - 1);
  }

  std::string body;
  const std::wstring file = FileForTarget(options, target);
  if (options.not_found || file.empty() || !ReadWholeFile(file, body)) {
    std::string reply = "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                        std::to_string(kNotFoundPage.size()) + "\r\n\r\n";
    reply.append(kNotFoundPage);
    SendAll(socket, reply);
    return;
  }

  std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n";
  if (options.huge_length) {
    headers += "Content-Length: 5000000000\r\n";
  } else if (options.short_body) {
    headers += "Content-Length: " + std::to_string(body.size() + 10) + "\r\n";
  } else if (!options.no_length) {
    headers += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  }
  headers += "\r\n";
  if (options.slow) {
    SendAll(socket, headers);
    // A client that waits this long gets the body after all; one that gives
    // up earlier has closed the connection by then.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait{static_cast<long>(kSlowHoldMs / 1000), 0};
    if (::select(0, &readable, nullptr, nullptr, &wait) == 0) SendAll(socket, body);
    return;
  }
  SendAll(socket, headers + body);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fwprintf(stderr, L"usage: config_host <port> <folder> [switches]\n");
    return 2;
  }
  const ScopedWinsock winsock;
  if (!winsock.started()) return 1;
  const UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener) return 1;
  // A port that a previous run left in TIME_WAIT is taken again at once.
  const BOOL reuse = TRUE;
  ::setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(options.port);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Get(), SOMAXCONN) != 0) {
    std::fwprintf(stderr, L"config_host: cannot listen on port %u\n", static_cast<unsigned>(options.port));
    return 1;
  }
  if (!options.ready_event.empty()) {
    const UniqueEvent ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, options.ready_event.c_str()));
    if (ready) ::SetEvent(ready.Get());
  }
  for (;;) {
    const UniqueSocket client(::accept(listener.Get(), nullptr, nullptr));
    if (!client) continue;
    const std::string head = ReadHead(client.Get());
    AppendLog(options, head);
    Respond(client.Get(), options, head);
    ::shutdown(client.Get(), SD_SEND);
  }
}
