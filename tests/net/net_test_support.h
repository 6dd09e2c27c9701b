// What the network tests share: the ports of the loopback servers that
// tests/net/run_with_servers starts, and small helpers to talk to them.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/datagram_socket.h"
#include "net/http_agent.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Network::Testing {

// The port a server of the wrapper listens on; 0 (and a failure) when the
// program was not started through tests/net/run_with_servers.
inline uint16_t ServerPort(const char* variable) {
  const char* value = std::getenv(variable);
  if (!value || !*value) {
    ADD_FAILURE() << variable << " is not set: run this program through tests/net/run_with_servers";
    return 0;
  }
  return static_cast<uint16_t>(std::atoi(value));
}

inline std::u16string Origin(uint16_t port, std::u16string_view host = u"127.0.0.1",
                             std::u16string_view scheme = u"http") {
  return std::u16string(scheme) + u"://" + std::u16string(host) + u":" + Platform::ToU16(port);
}

inline uint16_t HttpPort() { return ServerPort("ZT_HTTP_PORT"); }
inline std::u16string HttpOrigin() { return Origin(HttpPort()); }

// The echo route's answer "conn=<client port> path=<target> ua=<agent>".
struct Echo {
  std::string connection;
  std::string path;
  std::string userAgent;
};
inline Echo ParseEcho(const std::string& body) {
  Echo echo;
  const auto field = [&](const char* name, const char* next) {
    const size_t start = body.find(name);
    if (start == std::string::npos) return std::string();
    const size_t from = start + std::char_traits<char>::length(name);
    const size_t end = next ? body.find(next, from) : std::string::npos;
    return body.substr(from, end == std::string::npos ? std::string::npos : end - from);
  };
  echo.connection = field("conn=", " path=");
  echo.path = field(" path=", " ua=");
  echo.userAgent = field(" ua=", nullptr);
  return echo;
}

// Byte i of every body the servers generate.
inline bool FollowsPattern(const std::string& bytes, size_t offset = 0) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if (static_cast<unsigned char>(bytes[i]) != (offset + i) % 251) return false;
  return true;
}

// The paths the HTTP server saw since the last clear.
inline std::vector<std::string> ServerLog(CWinHttpAgent& agent) {
  std::string body;
  agent.Get(HttpOrigin() + u"/__log", {}, body);
  std::vector<std::string> paths;
  size_t start = 0;
  while (start < body.size()) {
    const size_t end = std::min(body.find('\n', start), body.size());
    paths.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}
inline void ClearServerLog(CWinHttpAgent& agent) {
  std::string body;
  agent.Get(HttpOrigin() + u"/__log/clear", {}, body);
}

inline uint32_t ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

// The browser's connection settings blob as Windows writes it, set for the
// current user while the object lives; the earlier value comes back after.
class ConnectionSettingsOverride {
 public:
  static constexpr char16_t kKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr char16_t kValue[] = u"DefaultConnectionSettings";

  static std::vector<uint8_t> Blob(uint32_t flags, const std::string& proxy, const std::string& bypass,
                                   const std::string& script) {
    std::vector<uint8_t> blob;
    const auto dword = [&](uint32_t v) {
      for (int i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const auto text = [&](const std::string& s) {
      dword(static_cast<uint32_t>(s.size()));
      blob.insert(blob.end(), s.begin(), s.end());
    };
    dword(0x46);
    dword(1);
    dword(flags);
    text(proxy);
    text(bypass);
    text(script);
    for (int i = 0; i < 8; ++i) dword(0);
    return blob;
  }

  explicit ConnectionSettingsOverride(const std::vector<uint8_t>& blob) {
    using Platform::RegistryKey;
    EXPECT_EQ(0u, RegistryKey::Create(Platform::kHkeyCurrentUser, kKey, Platform::RegAccess::ReadWrite,
                                      Platform::RegView::Default, key_));
    hadValue_ = key_.ReadBinary(kValue, previous_) == 0;
    EXPECT_EQ(0u, key_.WriteBinary(kValue, blob));
  }
  ~ConnectionSettingsOverride() {
    if (hadValue_) key_.WriteBinary(kValue, previous_);
    else key_.DeleteValue(kValue);
  }

 private:
  Platform::RegistryKey key_;
  bool hadValue_ = false;
  std::vector<uint8_t> previous_;
};

// The scripted SNTP responder: its answers to the next requests.
class SntpResponder {
 public:
  SntpResponder() : port_(ServerPort("ZT_SNTP_PORT")) { EXPECT_EQ(0, socket_.Create()); }
  uint16_t port() const { return port_; }

  // Items: "silent", "hex:<bytes>", "fill:<size>:<byte>".
  void Plan(const std::string& items) { EXPECT_EQ("OK", Ask("PLAN " + items)); }
  int RequestCount() { return std::atoi(Ask("COUNT").c_str()); }
  std::string LastRequestHex() { return Ask("LAST"); }

 private:
  std::string Ask(const std::string& text) {
    socket_.SendTo(text.data(), text.size(), u"127.0.0.1", port_);
    char reply[2048] = {};
    const int got = socket_.ReceiveFrom(reply, sizeof reply, 2000);
    return got > 0 ? std::string(reply, got) : std::string();
  }
  uint16_t port_;
  MyCSocket socket_;
};

inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

// A server reply: first byte, stratum, transmit seconds.
inline std::vector<uint8_t> Reply(uint8_t first, uint8_t stratum, uint32_t transmit, size_t size = 48) {
  std::vector<uint8_t> packet(size, 0);
  if (size > 0) packet[0] = first;
  if (size > 1) packet[1] = stratum;
  for (int i = 0; i < 4 && 40 + i < static_cast<int>(size); ++i) packet[40 + i] = static_cast<uint8_t>(transmit >> (24 - 8 * i));
  return packet;
}

}  // namespace Zentrovak::Network::Testing
