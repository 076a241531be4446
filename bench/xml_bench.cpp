// XmlDocument against pugixml and expat on the work the client asks of its
// XML reader. Every row starts from the same UTF-8 bytes (in memory or in a
// file) and ends in what a user navigates: the server entries with UTF-16
// host names, or the paragraphs as UTF-16 strings. The parsers that produce
// UTF-8 pay for the conversion. MB/s counts the UTF-8 source; peak memory
// counts every allocation of all three (operator new, pugixml's and expat's
// allocators) above what was live before the iteration.
//
// After the runs the program prints one table with the parsers side by side.
#include <benchmark/benchmark.h>
#include <expat.h>
#include <malloc.h>

#include <pugixml.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "client/config/server_list.h"
#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"

// --- Allocation accounting ---------------------------------------------------

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

// Each block carries its size in a 16-byte header so frees can be counted.
// Kept out of line: inlined into the replaced operator new and delete, they
// make GCC warn about the header arithmetic it cannot follow.
[[gnu::noinline]] void* CountedMalloc(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + 16));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t live = g_live.fetch_add(size) + size;
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return block + 16;
}

[[gnu::noinline]] void CountedFree(void* p) {
  if (p == nullptr) return;
  auto* block = static_cast<unsigned char*>(p) - 16;
  g_live.fetch_sub(*reinterpret_cast<std::size_t*>(block));
  std::free(block);
}

void* CountedRealloc(void* p, std::size_t size) {
  if (p == nullptr) return CountedMalloc(size);
  auto* block = static_cast<unsigned char*>(p) - 16;
  const std::size_t old = *reinterpret_cast<std::size_t*>(block);
  void* fresh = CountedMalloc(size);
  if (fresh == nullptr) return nullptr;
  std::memcpy(fresh, p, old < size ? old : size);
  CountedFree(p);
  return fresh;
}

// Peak bytes allocated above what was live when the measurement started.
class PeakScope {
 public:
  PeakScope() : base_(g_live.load()) { g_peak.store(base_); }
  double PeakMegabytes() const { return static_cast<double>(g_peak.load() - base_) / 1e6; }

 private:
  std::size_t base_;
};

}  // namespace

void* operator new(std::size_t size) {
  void* p = CountedMalloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, std::size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { CountedFree(p); }

namespace {

using veltrona::config::ServerEntry;
using veltrona::xml::XmlDocument;

// --- Documents ---------------------------------------------------------------

// The configuration host's document: the server list followed by the rest of
// the client's configuration.
std::string ServerList(int hosts) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n  <servers>\n";
  for (int i = 0; i < hosts; ++i) {
    const std::string n = std::to_string(i);
    doc += "    <host hostname=\"vpn-" + n + ".nl-ams.veltrona.example\" pixelguard_enabled=\"" +
           (i % 3 == 0 ? "True" : "False") + "\"" + (i % 50 == 0 ? " default=\"True\"" : "") + "/>\n";
  }
  return doc +
         "  </servers>\n  <application version=\"3.2\" url=\"https://www.veltrona.example/download/\"/>\n"
         "  <ovpn>\n    <keys file=\"/keys.zip\"/>\n    <template file=\"/template.ovpn\"/>\n  </ovpn>\n"
         "</config>\n";
}

// Paragraphs of text in several scripts, as a page of help text would be.
std::string NonAsciiParagraphs(int paragraphs) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<doc>\n";
  for (int i = 0; i < paragraphs; ++i) {
    doc +=
        "<p>Verbindung wird hergestellt \xE2\x80\x93 bitte w\xC3\xA4hlen Sie einen Server &amp; "
        "dr\xC3\xBC\x63ken Sie \xE2\x80\x9EVerbinden\xE2\x80\x9C. "
        "\xD0\x9F\xD0\xBE\xD0\xB4\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5 "
        "\xD0\xBA \xD1\x81\xD0\xB5\xD1\x80\xD0\xB2\xD0\xB5\xD1\x80\xD1\x83 "
        "\xD1\x83\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBB\xD0\xB5\xD0\xBD\xD0\xBE. "
        "\xCE\x97 \xCF\x83\xCF\x8D\xCE\xBD\xCE\xB4\xCE\xB5\xCF\x83\xCE\xB7 \xCE\xB5\xCE\xAF\xCE\xBD\xCE\xB1\xCE\xB9 "
        "\xCE\xB5\xCE\xBD\xCE\xB5\xCF\x81\xCE\xB3\xCE\xAE. "
        "\xE6\x8E\xA5\xE7\xB6\x9A\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\xE3\x80\x82"
        "\xE4\xBD\xA0\xE7\x9A\x84\xE8\xBF\x9E\xE6\x8E\xA5\xE6\x98\xAF\xE5\xAE\x89\xE5\x85\xA8\xE7\x9A\x84\xE3\x80\x82"
        " \xF0\x9F\x94\x92 Paragraph " +
        std::to_string(i) + "</p>\n";
  }
  return doc + "</doc>\n";
}

struct Source {
  std::string bytes;
  std::string path;  // the same bytes in a file
};

Source MakeSource(std::string bytes, const std::string& name) {
  Source source{std::move(bytes), (std::filesystem::temp_directory_path() / name).string()};
  std::ofstream(source.path, std::ios::binary).write(source.bytes.data(),
                                                     static_cast<std::streamsize>(source.bytes.size()));
  return source;
}

const Source& Servers300() {
  static const Source source = MakeSource(ServerList(300), "veltrona-bench-servers-300.xml");
  return source;
}
const Source& Servers50000() {
  static const Source source = MakeSource(ServerList(50000), "veltrona-bench-servers-50000.xml");
  return source;
}
const Source& Paragraphs() {
  static const Source source = MakeSource(NonAsciiParagraphs(10000), "veltrona-bench-paragraphs.xml");
  return source;
}

std::u16string Utf16(const char* utf8) {
  std::u16string out;
  veltrona::xml::XmlAppendUtf8(utf8, out);
  return out;
}

// --- XmlDocument: what the client does -----------------------------------------

// The download as the client takes it: decoded as ANSI, checked by one parse
// and read from it, three attributes per host; the text is kept for the cache.
std::vector<ServerEntry> XmlDocumentDownload(const Source& source) {
  auto list = veltrona::config::ReadDownloadedServerList(source.bytes, veltrona::xml::XmlDefaultDecoder());
  return list ? std::move(list->entries) : std::vector<ServerEntry>();
}

std::vector<ServerEntry> XmlDocumentFile(const Source& source) {
  XmlDocument doc;
  const std::u16string path(source.path.begin(), source.path.end());
  if (!doc.LoadFile(path)) return {};
  return veltrona::config::ReadServerEntries(doc);
}

std::vector<std::u16string> XmlDocumentParagraphs(const Source& source) {
  std::vector<std::u16string> paragraphs;
  XmlDocument doc;
  if (!doc.LoadBytes(source.bytes) || !doc.FindNextElement(u"doc") || !doc.FindNextChild() ||
      !doc.EnterElement()) {
    return paragraphs;
  }
  do {
    paragraphs.push_back(doc.ElementData());
  } while (doc.FindNextElement(u"p"));
  return paragraphs;
}

// --- pugixml -------------------------------------------------------------------

std::vector<ServerEntry> PugiEntries(const pugi::xml_document& doc) {
  std::vector<ServerEntry> entries;
  for (const pugi::xml_node host : doc.document_element().child("servers").children("host")) {
    ServerEntry entry;
    entry.hostname = Utf16(host.attribute("hostname").value());
    entry.pixelguard = std::strcmp(host.attribute("pixelguard_enabled").value(), "True") == 0;
    entry.is_default = std::strcmp(host.attribute("default").value(), "True") == 0;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<ServerEntry> PugiDownload(const Source& source) {
  pugi::xml_document doc;
  if (!doc.load_buffer(source.bytes.data(), source.bytes.size())) return {};
  return PugiEntries(doc);
}

std::vector<ServerEntry> PugiFile(const Source& source) {
  pugi::xml_document doc;
  if (!doc.load_file(source.path.c_str())) return {};
  return PugiEntries(doc);
}

std::vector<std::u16string> PugiParagraphs(const Source& source) {
  std::vector<std::u16string> paragraphs;
  pugi::xml_document doc;
  if (!doc.load_buffer(source.bytes.data(), source.bytes.size())) return paragraphs;
  for (const pugi::xml_node p : doc.document_element().children("p")) paragraphs.push_back(Utf16(p.child_value()));
  return paragraphs;
}

// --- expat -----------------------------------------------------------------------

const XML_Memory_Handling_Suite kExpatMemory = {&CountedMalloc, &CountedRealloc, &CountedFree};

struct ExpatServers {
  int depth = 0;
  bool inServers = false;
  std::vector<ServerEntry> entries;
};

void XMLCALL ServersStart(void* user, const XML_Char* name, const XML_Char** attributes) {
  auto& s = *static_cast<ExpatServers*>(user);
  ++s.depth;
  if (s.depth == 2 && std::strcmp(name, "servers") == 0) s.inServers = true;
  if (s.depth != 3 || !s.inServers || std::strcmp(name, "host") != 0) return;
  ServerEntry entry;
  for (const XML_Char** a = attributes; *a != nullptr; a += 2) {
    if (std::strcmp(a[0], "hostname") == 0) entry.hostname = Utf16(a[1]);
    else if (std::strcmp(a[0], "pixelguard_enabled") == 0) entry.pixelguard = std::strcmp(a[1], "True") == 0;
    else if (std::strcmp(a[0], "default") == 0) entry.is_default = std::strcmp(a[1], "True") == 0;
  }
  s.entries.push_back(std::move(entry));
}

void XMLCALL ServersEnd(void* user, const XML_Char*) {
  auto& s = *static_cast<ExpatServers*>(user);
  if (s.depth == 2) s.inServers = false;
  --s.depth;
}

// Feeds `read` chunks until it returns an empty one.
std::vector<ServerEntry> ExpatServerEntries(const std::function<std::string_view()>& read) {
  ExpatServers state;
  XML_Parser parser = XML_ParserCreate_MM(nullptr, &kExpatMemory, nullptr);
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, &ServersStart, &ServersEnd);
  bool ok = true;
  for (;;) {
    const std::string_view chunk = read();
    if (XML_Parse(parser, chunk.data(), static_cast<int>(chunk.size()), chunk.empty()) != XML_STATUS_OK) {
      ok = false;
      break;
    }
    if (chunk.empty()) break;
  }
  XML_ParserFree(parser);
  return ok ? std::move(state.entries) : std::vector<ServerEntry>();
}

std::vector<ServerEntry> ExpatDownload(const Source& source) {
  bool given = false;
  return ExpatServerEntries([&]() -> std::string_view {
    if (given) return {};
    given = true;
    return source.bytes;
  });
}

std::vector<ServerEntry> ExpatFile(const Source& source) {
  std::FILE* file = std::fopen(source.path.c_str(), "rb");
  if (file == nullptr) return {};
  std::vector<char> buffer(64 * 1024);
  auto entries = ExpatServerEntries([&]() -> std::string_view {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    return {buffer.data(), got};
  });
  std::fclose(file);
  return entries;
}

struct ExpatText {
  bool inParagraph = false;
  std::string current;
  std::vector<std::u16string> paragraphs;
};

void XMLCALL TextStart(void* user, const XML_Char* name, const XML_Char**) {
  auto& s = *static_cast<ExpatText*>(user);
  s.inParagraph = std::strcmp(name, "p") == 0;
  s.current.clear();
}

void XMLCALL TextEnd(void* user, const XML_Char*) {
  auto& s = *static_cast<ExpatText*>(user);
  if (!s.inParagraph) return;
  std::u16string text;
  veltrona::xml::XmlAppendUtf8(s.current, text);
  s.paragraphs.push_back(std::move(text));
  s.inParagraph = false;
}

void XMLCALL TextData(void* user, const XML_Char* data, int length) {
  auto& s = *static_cast<ExpatText*>(user);
  if (s.inParagraph) s.current.append(data, static_cast<std::size_t>(length));
}

std::vector<std::u16string> ExpatParagraphs(const Source& source) {
  ExpatText state;
  XML_Parser parser = XML_ParserCreate_MM(nullptr, &kExpatMemory, nullptr);
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, &TextStart, &TextEnd);
  XML_SetCharacterDataHandler(parser, &TextData);
  const bool ok = XML_Parse(parser, source.bytes.data(), static_cast<int>(source.bytes.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok ? std::move(state.paragraphs) : std::vector<std::u16string>();
}

// --- Rows ------------------------------------------------------------------------

struct Row {
  const char* name;
  const Source& (*source)();
  std::size_t expected;  // entries or paragraphs every parser must end with
};

const Row kRows[] = {
    {"download_300_servers", &Servers300, 300},
    {"download_50000_servers", &Servers50000, 50000},
    {"file_300_servers", &Servers300, 300},
    {"file_50000_servers", &Servers50000, 50000},
    {"non_ascii_paragraphs", &Paragraphs, 10000},
};

const char* const kParsers[] = {"XmlDocument", "pugixml", "expat"};

template <typename Work>
void Measure(benchmark::State& state, const Row& row, Work work) {
  const Source& source = row.source();
  double peak = 0;
  std::size_t count = 0;
  for (auto _ : state) {
    PeakScope scope;
    {
      auto result = work(source);
      count = result.size();
      benchmark::DoNotOptimize(result.data());
    }
    peak = scope.PeakMegabytes();
  }
  if (count != row.expected) state.SkipWithError("wrong number of results");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(source.bytes.size()));
  state.counters["peak_MB"] = peak;
}

void Register() {
  pugi::set_memory_management_functions(&CountedMalloc, &CountedFree);
  for (const Row& row : kRows) {
    const std::string name = row.name;
    for (const char* parser : kParsers) {
      const std::string full = name + "/" + parser;
      const std::string p = parser;
      const bool servers = row.expected != 10000;
      const bool file = name.rfind("file_", 0) == 0;
      std::function<void(benchmark::State&)> run;
      if (!servers) {
        if (p == "XmlDocument") run = [&row](benchmark::State& s) { Measure(s, row, XmlDocumentParagraphs); };
        if (p == "pugixml") run = [&row](benchmark::State& s) { Measure(s, row, PugiParagraphs); };
        if (p == "expat") run = [&row](benchmark::State& s) { Measure(s, row, ExpatParagraphs); };
      } else if (file) {
        if (p == "XmlDocument") run = [&row](benchmark::State& s) { Measure(s, row, XmlDocumentFile); };
        if (p == "pugixml") run = [&row](benchmark::State& s) { Measure(s, row, PugiFile); };
        if (p == "expat") run = [&row](benchmark::State& s) { Measure(s, row, ExpatFile); };
      } else {
        if (p == "XmlDocument") run = [&row](benchmark::State& s) { Measure(s, row, XmlDocumentDownload); };
        if (p == "pugixml") run = [&row](benchmark::State& s) { Measure(s, row, PugiDownload); };
        if (p == "expat") run = [&row](benchmark::State& s) { Measure(s, row, ExpatDownload); };
      }
      benchmark::RegisterBenchmark(full.c_str(), run)->Unit(benchmark::kMillisecond);
    }
  }
}

// Shows single runs and the aggregates of repeated ones, and remembers the
// best of each benchmark's runs for the table: noise on a shared machine
// only ever slows a run down, so the fastest run is the steadiest figure.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double megabytesPerSecond = 0;
    double peakMegabytes = 0;
    bool failed = false;
  };

  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate || run.repetitions <= 1) shown.push_back(run);
      if (run.run_type != Run::RT_Iteration) continue;
      Result& r = results_[run.run_name.str()];
      r.failed = r.failed || run.error_occurred;
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) r.megabytesPerSecond = std::max(r.megabytesPerSecond, bytes->second.value / 1e6);
      const auto peak = run.counters.find("peak_MB");
      if (peak != run.counters.end()) r.peakMegabytes = std::max(r.peakMegabytes, peak->second.value);
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }

  void PrintTable() const {
    std::printf("\n%-24s %28s %28s %28s %9s %9s\n", "row (best MB/s, peak MB)", kParsers[0], kParsers[1], kParsers[2],
                "vs pugi", "vs expat");
    for (const Row& row : kRows) {
      std::printf("%-24s", row.name);
      double speed[3] = {};
      for (int i = 0; i < 3; ++i) {
        const auto found = results_.find(std::string(row.name) + "/" + kParsers[i]);
        if (found == results_.end() || found->second.failed) {
          std::printf(" %28s", "-");
          continue;
        }
        speed[i] = found->second.megabytesPerSecond;
        std::printf(" %15.1f %9.2f MB", speed[i], found->second.peakMegabytes);
      }
      std::printf(" %8.2fx %8.2fx\n", speed[1] > 0 ? speed[0] / speed[1] : 0.0,
                  speed[2] > 0 ? speed[0] / speed[2] : 0.0);
    }
  }

 private:
  std::map<std::string, Result> results_;
};

// glibc moves its mmap and trim thresholds as blocks come and go, so whether
// an iteration's large blocks arrive as fresh pages (and pay the kernel's
// page faults) depends on what ran before: the same row then swings by a
// factor of two from run to run. The thresholds are fixed instead. By
// default the heap keeps its memory, and every row measures the parsers'
// own work; XML_BENCH_HEAP=fresh hands every block of 128 KB or more back
// to the system, as a parse in a process that has just started sees it.
void ConfigureHeap() {
  const char* mode = std::getenv("XML_BENCH_HEAP");
  if (mode != nullptr && std::strcmp(mode, "fresh") == 0) {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    std::printf("heap: large blocks fresh from the system\n");
  } else {
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    std::printf("heap: memory kept between iterations (XML_BENCH_HEAP=fresh for fresh pages)\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  ConfigureHeap();
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintTable();
  benchmark::Shutdown();
  for (const Row& row : kRows) std::filesystem::remove(row.source().path);
  return 0;
}
