#include "service/openvpn_config_check.h"

#include <array>
#include <cstdint>
#include <span>
#include <unordered_set>
#include <utility>

#include "base/ascii.h"

namespace veltrona::service {
namespace {

// How a directive's arguments are read.
enum class Shape : uint8_t {
  kPlain,       // values only; no argument names a file
  kFile,        // the first argument names a file (or the inline marker)
  kNoFile,      // allowed only without arguments: an argument would be a file
  kHttpProxy,   // server port [auth-file | auto | auto-nct | stdin] [method]
  kSocksProxy,  // server [port [auth-file | stdin]]
  kDeviceName,  // an adapter name or GUID, never a path
};

using Keywords = std::span<const std::string_view>;

struct DirectiveRule {
  std::string_view name;
  uint8_t min_args;
  uint8_t max_args;
  Shape shape;
  bool inline_block;  // may be given as <name>...</name>
  // When not empty, every non-file argument must be one of these.
  Keywords keywords;
};

constexpr uint8_t kAnyCount = kMaxConfigTokens - 1;

constexpr std::string_view kKeyDirections[] = {"0", "1"};
constexpr std::string_view kDeviceTypes[] = {"tun", "tap"};
constexpr std::string_view kWindowsDrivers[] = {"tap-windows6", "wintun", "ovpn-dco"};
constexpr std::string_view kServer[] = {"server"};
constexpr std::string_view kCryptV2Flags[] = {"force-cookie", "allow-noncookie"};
constexpr std::string_view kAuthRetry[] = {"none", "nointeract", "interact"};
constexpr std::string_view kRouteMethods[] = {"exe", "ipapi", "adaptive"};
constexpr std::string_view kGatewayFlags[] = {"local",      "autolocal",   "def1", "bypass-dhcp",
                                              "bypass-dns", "block-local", "ipv6", "!ipv4"};

// What a client configuration needs, and nothing that makes OpenVPN run a
// program, load a module, write a file or read one outside the data folder.
// Names are compared exactly, as OpenVPN does.
const DirectiveRule kRules[] = {
    // Client mode and the tunnel device.
    {"client", 0, 0, Shape::kPlain, false, {}},
    {"pull", 0, 0, Shape::kPlain, false, {}},
    {"tls-client", 0, 0, Shape::kPlain, false, {}},
    {"dev", 1, 1, Shape::kPlain, false, {}},
    {"dev-type", 1, 1, Shape::kPlain, false, kDeviceTypes},
    {"dev-node", 1, 1, Shape::kDeviceName, false, {}},
    {"windows-driver", 1, 1, Shape::kPlain, false, kWindowsDrivers},
    {"disable-dco", 0, 0, Shape::kPlain, false, {}},
    {"persist-key", 0, 0, Shape::kPlain, false, {}},
    {"persist-tun", 0, 0, Shape::kPlain, false, {}},
    // Where and how to connect.
    {"remote", 1, 3, Shape::kPlain, false, {}},
    {"proto", 1, 1, Shape::kPlain, false, {}},
    {"port", 1, 1, Shape::kPlain, false, {}},
    {"rport", 1, 1, Shape::kPlain, false, {}},
    {"lport", 1, 1, Shape::kPlain, false, {}},
    {"nobind", 0, 0, Shape::kPlain, false, {}},
    {"float", 0, 0, Shape::kPlain, false, {}},
    {"remote-random", 0, 0, Shape::kPlain, false, {}},
    {"resolv-retry", 1, 1, Shape::kPlain, false, {}},
    {"connect-retry", 1, 2, Shape::kPlain, false, {}},
    {"connect-retry-max", 1, 1, Shape::kPlain, false, {}},
    {"connect-timeout", 1, 1, Shape::kPlain, false, {}},
    {"server-poll-timeout", 1, 1, Shape::kPlain, false, {}},
    {"explicit-exit-notify", 0, 1, Shape::kPlain, false, {}},
    {"http-proxy", 2, 4, Shape::kHttpProxy, false, {}},
    {"http-proxy-user-pass", 1, 1, Shape::kFile, true, {}},
    {"socks-proxy", 1, 3, Shape::kSocksProxy, false, {}},
    // Link tuning.
    {"sndbuf", 1, 1, Shape::kPlain, false, {}},
    {"rcvbuf", 1, 1, Shape::kPlain, false, {}},
    {"tun-mtu", 1, 2, Shape::kPlain, false, {}},
    {"mssfix", 0, 2, Shape::kPlain, false, {}},
    {"fragment", 1, 2, Shape::kPlain, false, {}},
    {"keepalive", 2, 2, Shape::kPlain, false, {}},
    {"ping", 1, 1, Shape::kPlain, false, {}},
    {"ping-restart", 1, 1, Shape::kPlain, false, {}},
    {"ping-exit", 1, 1, Shape::kPlain, false, {}},
    {"ping-timer-rem", 0, 0, Shape::kPlain, false, {}},
    {"comp-lzo", 0, 1, Shape::kPlain, false, {}},
    {"compress", 0, 1, Shape::kPlain, false, {}},
    {"allow-compression", 1, 1, Shape::kPlain, false, {}},
    // Messages (they go to the output file the service opens as the user).
    {"verb", 1, 1, Shape::kPlain, false, {}},
    {"mute", 1, 1, Shape::kPlain, false, {}},
    {"mute-replay-warnings", 0, 0, Shape::kPlain, false, {}},
    // Data channel and TLS parameters.
    {"cipher", 1, 1, Shape::kPlain, false, {}},
    {"data-ciphers", 1, 1, Shape::kPlain, false, {}},
    {"ncp-ciphers", 1, 1, Shape::kPlain, false, {}},
    {"data-ciphers-fallback", 1, 1, Shape::kPlain, false, {}},
    {"auth", 1, 1, Shape::kPlain, false, {}},
    {"tls-cipher", 1, 1, Shape::kPlain, false, {}},
    {"tls-ciphersuites", 1, 1, Shape::kPlain, false, {}},
    {"tls-groups", 1, 1, Shape::kPlain, false, {}},
    {"tls-version-min", 1, 2, Shape::kPlain, false, {}},
    {"tls-version-max", 1, 1, Shape::kPlain, false, {}},
    {"tls-timeout", 1, 1, Shape::kPlain, false, {}},
    {"hand-window", 1, 1, Shape::kPlain, false, {}},
    {"tran-window", 1, 1, Shape::kPlain, false, {}},
    {"reneg-sec", 1, 2, Shape::kPlain, false, {}},
    {"reneg-bytes", 1, 1, Shape::kPlain, false, {}},
    {"reneg-pkts", 1, 1, Shape::kPlain, false, {}},
    {"key-direction", 1, 1, Shape::kPlain, false, kKeyDirections},
    // Checks on the server's certificate.
    {"remote-cert-tls", 1, 1, Shape::kPlain, false, kServer},
    {"ns-cert-type", 1, 1, Shape::kPlain, false, kServer},
    {"remote-cert-ku", 0, kAnyCount, Shape::kPlain, false, {}},
    {"remote-cert-eku", 1, 1, Shape::kPlain, false, {}},
    {"verify-x509-name", 1, 2, Shape::kPlain, false, {}},
    {"peer-fingerprint", 1, 1, Shape::kPlain, true, {}},
    {"verify-hash", 1, 2, Shape::kPlain, true, {}},
    // Keys and certificates: files inside the data folder, or inline.
    {"ca", 1, 1, Shape::kFile, true, {}},
    {"cert", 1, 1, Shape::kFile, true, {}},
    {"key", 1, 1, Shape::kFile, true, {}},
    {"extra-certs", 1, 1, Shape::kFile, true, {}},
    {"pkcs12", 1, 1, Shape::kFile, true, {}},
    {"dh", 1, 1, Shape::kFile, true, {}},
    {"crl-verify", 1, 1, Shape::kFile, true, {}},
    {"tls-auth", 1, 2, Shape::kFile, true, kKeyDirections},
    {"tls-crypt", 1, 1, Shape::kFile, true, {}},
    {"tls-crypt-v2", 1, 2, Shape::kFile, true, kCryptV2Flags},
    {"secret", 1, 2, Shape::kFile, true, kKeyDirections},
    // Credentials come from the client over the management interface.
    {"auth-user-pass", 0, 0, Shape::kNoFile, false, {}},
    {"askpass", 0, 0, Shape::kNoFile, false, {}},
    {"auth-nocache", 0, 0, Shape::kPlain, false, {}},
    {"auth-retry", 1, 1, Shape::kPlain, false, kAuthRetry},
    // Routes; route.exe is taken from the system folder (win-sys is refused).
    {"route", 1, 4, Shape::kPlain, false, {}},
    {"route-ipv6", 1, 3, Shape::kPlain, false, {}},
    {"route-method", 1, 1, Shape::kPlain, false, kRouteMethods},
    {"route-delay", 0, 2, Shape::kPlain, false, {}},
    {"route-metric", 1, 1, Shape::kPlain, false, {}},
    {"route-nopull", 0, 0, Shape::kPlain, false, {}},
    {"redirect-gateway", 0, 8, Shape::kPlain, false, kGatewayFlags},
    {"block-outside-dns", 0, 0, Shape::kPlain, false, {}},
    {"block-ipv6", 0, 0, Shape::kPlain, false, {}},
    {"pull-filter", 2, 2, Shape::kPlain, false, {}},
};

const DirectiveRule* FindRule(std::string_view name) {
  for (const DirectiveRule& rule : kRules) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

// Index of a rule, so that the blocks seen can be kept as a set of bits.
size_t RuleIndex(const DirectiveRule* rule) { return static_cast<size_t>(rule - kRules); }
constexpr size_t kRuleCount = sizeof(kRules) / sizeof(kRules[0]);

bool IsKeyword(const DirectiveRule& rule, std::string_view value) {
  for (std::string_view keyword : rule.keywords) {
    if (keyword == value) return true;
  }
  return false;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) { return EqualsIgnoringAsciiCase(a, b); }

// Older OpenVPN releases and some generators write these in place of a file
// name when the content is an inline block.
bool IsInlineMarker(std::string_view token) {
  return EqualsIgnoreCase(token, "[inline]") || EqualsIgnoreCase(token, "[[inline]]");
}

// ---------------------------------------------------------------------------
// Tokens of one option line, read as OpenVPN reads them.

struct Tokens {
  std::vector<std::string> values;
  const char* error = nullptr;  // set when the line is refused
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// OpenVPN accepts a backslash only before a backslash, a double quote or
// white space; anything else makes it drop the line.
bool IsEscapable(char c) { return c == '\\' || c == '"' || IsBlank(c); }

Tokens SplitTokens(std::string_view line) {
  enum class State { kBetween, kBare, kDoubleQuoted, kSingleQuoted };
  Tokens out;
  State state = State::kBetween;
  bool escaped = false;
  std::string current;
  auto finish = [&] {
    out.values.push_back(std::move(current));
    current.clear();
    state = State::kBetween;
  };
  // One step past the end stands for the terminator OpenVPN sees.
  for (size_t i = 0; i <= line.size(); ++i) {
    const bool at_end = i == line.size();
    const char c = at_end ? '\0' : line[i];
    if (!at_end && static_cast<unsigned char>(c) >= 0x80) {
      // OpenVPN classifies these with the C library's isspace, whose answer
      // for negative chars differs between runtimes.
      out.error = "non-ASCII character outside a comment";
      return out;
    }
    if (!escaped && c == '\\' && state != State::kSingleQuoted) {
      escaped = true;
      continue;
    }
    const bool space = at_end || IsBlank(c);
    switch (state) {
      case State::kBetween:
        if (space) {
          if (escaped && at_end) {
            out.error = "backslash at the end of a line";
            return out;
          }
          break;
        }
        // A comment starts at any token boundary, escaped or not.
        if (c == '#' || c == ';') return out;
        if (out.values.size() == kMaxConfigTokens) {
          out.error = "too many arguments";
          return out;
        }
        if (!escaped && c == '"') {
          state = State::kDoubleQuoted;
        } else if (!escaped && c == '\'') {
          state = State::kSingleQuoted;
        } else {
          if (escaped && !IsEscapable(c)) {
            out.error = "backslash before a character that cannot be escaped";
            return out;
          }
          current.push_back(c);
          state = State::kBare;
        }
        break;
      case State::kBare:
        if (!escaped && space) {
          finish();
        } else if (at_end || (escaped && !IsEscapable(c))) {
          out.error = at_end ? "backslash at the end of a line" : "backslash before a character that cannot be escaped";
          return out;
        } else {
          current.push_back(c);
        }
        break;
      case State::kDoubleQuoted:
        if (at_end) {
          out.error = "no closing quotation mark";
          return out;
        }
        if (!escaped && c == '"') {
          finish();
        } else if (escaped && !IsEscapable(c)) {
          out.error = "backslash before a character that cannot be escaped";
          return out;
        } else {
          current.push_back(c);
        }
        break;
      case State::kSingleQuoted:
        if (at_end) {
          out.error = "no closing quotation mark";
          return out;
        }
        if (c == '\'') {
          finish();
        } else {
          current.push_back(c);
        }
        break;
    }
    escaped = false;
  }
  return out;
}

// A token written so that OpenVPN reads it back unchanged: bare when that is
// unambiguous, otherwise in double quotes with backslash escapes. File names
// are always quoted, so they read the same whatever they hold.
void AppendToken(std::string& out, std::string_view token, bool quote) {
  bool bare = !quote && !token.empty();
  for (char c : token) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("-_.:/,@=+!%[]{}~^").find(c) != std::string_view::npos;
    if (!safe) {
      bare = false;
      break;
    }
  }
  if (bare) {
    out.append(token);
    return;
  }
  out.push_back('"');
  for (char c : token) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// ---------------------------------------------------------------------------
// File names.

// The data folder with forward slashes turned round and no trailing
// separator; empty when it is not an absolute drive path.
std::u16string NormaliseFolder(std::u16string_view folder) {
  std::u16string out(folder);
  for (char16_t& c : out) {
    if (c == u'/') c = u'\\';
  }
  while (!out.empty() && out.back() == u'\\') out.pop_back();
  const bool drive_absolute = out.size() >= 2 && ((out[0] >= u'A' && out[0] <= u'Z') || (out[0] >= u'a' && out[0] <= u'z')) &&
                              out[1] == u':' && (out.size() == 2 || out[2] == u'\\');
  if (!drive_absolute) out.clear();
  return out;
}

bool IsDriveLetter(char16_t c) { return IsAsciiLetter(c); }

// Names that open a device in every folder, whatever extension follows.
bool IsReservedDeviceName(std::u16string_view component) {
  size_t stem_end = component.find(u'.');
  if (stem_end == std::u16string_view::npos) stem_end = component.size();
  std::u16string_view stem = component.substr(0, stem_end);
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  std::string lower;
  for (char16_t c : stem) lower.push_back(static_cast<char>(ToAsciiLower(c)));
  static constexpr std::string_view kFixed[] = {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"};
  for (std::string_view name : kFixed) {
    if (lower == name) return true;
  }
  return lower.size() == 4 && (lower.compare(0, 3, "com") == 0 || lower.compare(0, 3, "lpt") == 0) && lower[3] >= '0' &&
         lower[3] <= '9';
}

// Checks one component of a relative name; returns the problem or null.
const char* CheckComponent(std::u16string_view component) {
  if (component.empty()) return "empty path component in file name";
  if (component == u"..") return "parent folder in file name";
  for (char16_t c : component) {
    if (c == u':') return "stream or drive in file name";
    if (c < 0x20 || std::u16string_view(u"<>\"|?*").find(c) != std::u16string_view::npos) {
      return "invalid character in file name";
    }
  }
  // Windows drops trailing dots and blanks, so the name would open another file.
  if (component.back() == u'.' || component.back() == u' ') return "file name ends in a dot or blank";
  if (IsReservedDeviceName(component)) return "reserved device name in file name";
  return nullptr;
}

constexpr const char* kOutside = "file outside the data folder";

// Resolves `name` against the data folder. On success `relative` is the path
// below the folder, backslash-separated, without "." components.
const char* ConfineFileName(std::string_view name, const std::u16string& folder, std::u16string& relative) {
  if (name.empty()) return "empty file name";
  std::u16string path;
  path.reserve(name.size());
  for (char c : name) path.push_back(c == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(c)));

  std::u16string_view rest(path);
  if (rest.size() >= 2 && rest[0] == u'\\' && rest[1] == u'\\') return "network or device path";
  if (rest[0] == u'\\') return kOutside;  // relative to the drive's root
  if (rest.size() >= 2 && IsDriveLetter(rest[0]) && rest[1] == u':') {
    if (rest.size() == 2 || rest[2] != u'\\') return "drive-relative path";
    if (folder.empty() || rest.size() <= folder.size() || rest[folder.size()] != u'\\') return kOutside;
    for (size_t i = 0; i < folder.size(); ++i) {
      if (ToAsciiLower(rest[i]) != ToAsciiLower(folder[i])) return kOutside;
    }
    rest.remove_prefix(folder.size() + 1);
  }

  relative.clear();
  while (true) {
    const size_t end = rest.find(u'\\');
    const std::u16string_view component = rest.substr(0, end);
    if (component != u".") {
      if (const char* problem = CheckComponent(component)) return problem;
      if (!relative.empty()) relative.push_back(u'\\');
      relative.append(component);
    }
    if (end == std::u16string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  if (relative.empty()) return "empty file name";
  return nullptr;
}

std::string RelativeForConfig(const std::u16string& relative) {
  std::string out;
  out.reserve(relative.size());
  for (char16_t c : relative) out.push_back(static_cast<char>(c));  // ASCII by construction
  return out;
}

// ---------------------------------------------------------------------------
// The whole text.

class Checker {
 public:
  Checker(std::string_view text, std::u16string_view folder) : text_(text), folder_(NormaliseFolder(folder)) {}

  ConfigCheckResult Run();

 private:
  bool Refuse(const char* reason, std::string_view directive = {}, bool name_in_reason = true) {
    result_.refused_directive = std::string(directive);
    result_.reason = reason;
    if (!directive.empty() && name_in_reason) {
      result_.reason += ": ";
      result_.reason += directive;
    }
    result_.line = line_number_;
    return false;
  }

  bool CheckBytes(std::string_view line);
  bool HandleOptionLine(std::string_view line);
  bool HandleDirective(std::vector<std::string>& tokens);
  bool RewriteFile(const DirectiveRule& rule, std::string& token, bool& is_file);
  bool EmitLine(std::string_view line);

  std::string_view text_;
  std::u16string folder_;
  ConfigCheckResult result_;
  size_t line_number_ = 0;

  // The inline block being read, if any.
  const DirectiveRule* block_ = nullptr;
  size_t block_line_ = 0;
  std::string block_close_;

  std::array<bool, kRuleCount> blocks_seen_{};
  struct Marker {
    const DirectiveRule* rule;
    size_t line;
  };
  std::vector<Marker> markers_;
  std::unordered_set<std::u16string> file_keys_;
};

bool Checker::CheckBytes(std::string_view line) {
  for (char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) return Refuse("NUL byte in the configuration");
    // Ctrl-Z ends a text-mode read on Windows and a lone CR splits lines for
    // some readers; neither belongs in a configuration.
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return Refuse("control character in the configuration");
  }
  return true;
}

bool Checker::EmitLine(std::string_view line) {
  if (line.size() + 1 > kMaxConfigLineBytes) return Refuse("line too long after rewriting");
  result_.text.append(line);
  result_.text.push_back('\n');
  return true;
}

bool Checker::RewriteFile(const DirectiveRule& rule, std::string& token, bool& is_file) {
  if (IsInlineMarker(token)) {
    if (!rule.inline_block) return Refuse("inline marker without an inline block", rule.name);
    markers_.push_back({&rule, line_number_});
    return true;
  }
  std::u16string relative;
  if (const char* problem = ConfineFileName(token, folder_, relative)) return Refuse(problem, rule.name);
  std::u16string key;
  key.reserve(relative.size());
  for (char16_t c : relative) key.push_back(ToAsciiLower(c));
  if (file_keys_.insert(std::move(key)).second) {
    if (result_.files.size() == kMaxConfigFiles) return Refuse("too many files", rule.name);
    result_.files.push_back({std::string(rule.name), relative});
  }
  token = RelativeForConfig(relative);
  is_file = true;
  return true;
}

bool Checker::HandleDirective(std::vector<std::string>& tokens) {
  const std::string& name = tokens[0];
  const DirectiveRule* rule = FindRule(name);
  if (rule == nullptr) return Refuse("directive not allowed", name);
  const size_t args = tokens.size() - 1;
  if (rule->shape == Shape::kNoFile && args > 0) return Refuse("file argument not allowed", rule->name);
  if (rule->name == "crl-verify" && args == 2) return Refuse("directory form not allowed", rule->name);
  if (args < rule->min_args || args > rule->max_args) return Refuse("wrong number of arguments", rule->name);

  size_t first_value = 1;
  size_t file_index = 0;  // the token that names a file, if any
  bool is_file = false;
  switch (rule->shape) {
    case Shape::kFile:
      file_index = 1;
      if (!RewriteFile(*rule, tokens[1], is_file)) return false;
      first_value = 2;
      break;
    case Shape::kHttpProxy:
      if (args >= 3 && tokens[3] != "auto" && tokens[3] != "auto-nct" && tokens[3] != "stdin") {
        file_index = 3;
        if (!RewriteFile(*rule, tokens[3], is_file)) return false;
      }
      if (args == 4 && tokens[4] != "none" && tokens[4] != "basic" && tokens[4] != "ntlm" && tokens[4] != "digest") {
        return Refuse("argument not allowed", rule->name);
      }
      break;
    case Shape::kSocksProxy:
      if (args == 3 && tokens[3] != "stdin") {
        file_index = 3;
        if (!RewriteFile(*rule, tokens[3], is_file)) return false;
      }
      break;
    case Shape::kDeviceName:
      for (char c : tokens[1]) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        std::string_view(" -_.{}()").find(c) != std::string_view::npos;
        if (!ok) return Refuse("argument not allowed", rule->name);
      }
      if (tokens[1].empty()) return Refuse("argument not allowed", rule->name);
      break;
    case Shape::kPlain:
    case Shape::kNoFile:
      break;
  }
  if (!rule->keywords.empty()) {
    for (size_t i = first_value; i < tokens.size(); ++i) {
      if (!IsKeyword(*rule, tokens[i])) return Refuse("argument not allowed", rule->name);
    }
  }

  std::string line(rule->name);
  for (size_t i = 1; i < tokens.size(); ++i) {
    line.push_back(' ');
    AppendToken(line, tokens[i], is_file && i == file_index);
  }
  return EmitLine(line);
}

bool Checker::HandleOptionLine(std::string_view line) {
  Tokens tokens = SplitTokens(line);
  if (tokens.error != nullptr) return Refuse(tokens.error);
  if (tokens.values.empty()) return EmitLine(line);  // blank or comment: harmless as written

  std::string& first = tokens.values[0];
  if (first.size() >= 3 && first.compare(0, 2, "--") == 0) first.erase(0, 2);

  // A lone "<name>" opens an inline block that runs to the line starting
  // with "</name>".
  if (tokens.values.size() == 1 && first.size() >= 2 && first.front() == '<' && first.back() == '>') {
    const std::string name = first.substr(1, first.size() - 2);
    const DirectiveRule* rule = FindRule(name);
    if (rule == nullptr || !rule->inline_block) return Refuse("inline block not allowed", name);
    block_ = rule;
    block_line_ = line_number_;
    block_close_ = "</" + name + ">";
    blocks_seen_[RuleIndex(rule)] = true;
    return EmitLine("<" + name + ">");
  }
  return HandleDirective(tokens.values);
}

ConfigCheckResult Checker::Run() {
  if (text_.size() > kMaxConfigBytes) {
    Refuse("configuration larger than 1 MiB");
    return std::move(result_);
  }
  size_t pos = 0;
  while (pos < text_.size()) {
    ++line_number_;
    const size_t lf = text_.find('\n', pos);
    const size_t end = lf == std::string_view::npos ? text_.size() : lf;
    std::string_view line = text_.substr(pos, end - pos);
    pos = lf == std::string_view::npos ? text_.size() : lf + 1;
    // Counted with a line end even where the last line has none, since the
    // rewritten text always ends its lines.
    if (line.size() + 1 > kMaxConfigLineBytes) {
      Refuse("line too long");
      return std::move(result_);
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line_number_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);  // UTF-8 mark, as OpenVPN skips it
    if (!CheckBytes(line)) return std::move(result_);

    bool ok = true;
    if (block_ != nullptr) {
      size_t start = 0;
      while (start < line.size() && IsBlank(line[start])) ++start;
      const std::string_view body = line.substr(start);
      if (body.substr(0, block_close_.size()) == block_close_) {
        // OpenVPN ignores whatever follows the closing tag; refuse it rather
        // than keep text nobody reads.
        for (char c : body.substr(block_close_.size())) {
          if (!IsBlank(c)) {
            Refuse("text after the end of an inline block", block_->name);
            return std::move(result_);
          }
        }
        ok = EmitLine(block_close_);
        block_ = nullptr;
      } else {
        for (char c : line) {
          if (static_cast<unsigned char>(c) >= 0x80) {
            Refuse("non-ASCII character in an inline block", block_->name);
            return std::move(result_);
          }
        }
        ok = EmitLine(line);
      }
    } else {
      ok = HandleOptionLine(line);
    }
    if (!ok) return std::move(result_);
  }
  if (block_ != nullptr) {
    line_number_ = block_line_;
    Refuse("unterminated inline block", block_->name);
    return std::move(result_);
  }
  for (const Marker& marker : markers_) {
    if (!blocks_seen_[RuleIndex(marker.rule)]) {
      line_number_ = marker.line;
      Refuse("inline marker without an inline block", marker.rule->name);
      return std::move(result_);
    }
  }
  result_.accepted = true;
  return std::move(result_);
}

}  // namespace

ConfigCheckResult CheckOpenVpnConfig(std::string_view config_text, std::u16string_view data_folder) {
  ConfigCheckResult result = Checker(config_text, data_folder).Run();
  if (!result.accepted) {
    result.text.clear();
    result.files.clear();
  }
  return result;
}

}  // namespace veltrona::service
