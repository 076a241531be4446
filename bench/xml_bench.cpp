// Parse speed and peak memory of XmlDocument against pugixml and expat on
// documents shaped like the ones the client reads. MB/s counts the UTF-8 source.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "client/xml/xml_document.h"
#include "client/xml/xml_encoding.h"

// The comparison parsers are built only when the build links them
// (define XML_BENCH_COMPARE and link pugixml and expat).
#if defined(XML_BENCH_COMPARE) && __has_include(<pugixml.hpp>)
#include <pugixml.hpp>
#define XML_BENCH_PUGIXML 1
#endif
#if defined(XML_BENCH_COMPARE) && __has_include(<expat.h>)
#include <expat.h>
#define XML_BENCH_EXPAT 1
#endif

// --- Allocation accounting ---------------------------------------------------

namespace {

std::atomic<std::size_t> g_live{0};
std::atomic<std::size_t> g_peak{0};

// Each block carries its size in a 16-byte header so frees can be counted.
void* CountedMalloc(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + 16));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t live = g_live.fetch_add(size) + size;
  std::size_t peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return block + 16;
}

void CountedFree(void* p) {
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

// --- Documents ---------------------------------------------------------------

namespace {

std::string ServerList(int hosts) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<servers version=\"3\" client=\"2.4.1\">\n";
  for (int i = 0; i < hosts; ++i) {
    const std::string n = std::to_string(i);
    doc += "  <server host=\"vpn-" + n + ".nl-ams.veltrona.example\" name=\"Netherlands - Amsterdam #" + n +
           "\" proxy=\"10." + std::to_string(i % 250) + "." + std::to_string(i / 250 % 250) +
           ".1:3128\" country=\"NL\" load=\"" + std::to_string(i % 100) + "\" pptp=\"true\" />\n";
  }
  return doc + "</servers>\n";
}

std::string AttributeHeavy(int elements) {
  std::string doc = "<items>";
  for (int i = 0; i < elements; ++i) {
    doc += "<item";
    for (int a = 0; a < 20; ++a) {
      doc += " attr" + std::to_string(a) + "=\"value &amp; " + std::to_string(i * a) + "\"";
    }
    doc += "/>";
  }
  return doc + "</items>";
}

std::string TextHeavy(int paragraphs) {
  std::string doc = "<doc>";
  for (int i = 0; i < paragraphs; ++i) {
    doc += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit &amp; sed do eiusmod tempor "
           "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
           "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat.<![CDATA[ a < b ]]></p>\n";
  }
  return doc + "</doc>";
}

std::string DeeplyNested(int depth) {
  std::string doc;
  for (int i = 0; i < depth; ++i) doc += "<n d=\"" + std::to_string(i) + "\">";
  for (int i = 0; i < depth; ++i) doc += "</n>";
  return doc;
}

std::string UnclosedNested(int depth) {
  std::string doc;
  for (int i = 0; i < depth; ++i) doc += "<a>";
  return doc;
}

const std::string& Document(int which) {
  static const std::string docs[] = {ServerList(50000), AttributeHeavy(20000), TextHeavy(20000),
                                     DeeplyNested(5000), UnclosedNested(100000)};
  return docs[which];
}

const char* const kNames[] = {"server_list_50k", "attribute_heavy", "text_heavy", "nested_5000",
                              "unclosed_100000"};

void Report(benchmark::State& state, const std::string& source, double peakMb) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(source.size()));
  state.counters["peak_MB"] = peakMb;
  state.SetLabel(kNames[state.range(0)]);
}

// XmlDocument from text already in UTF-16, as the client passes downloaded text.
void BM_XmlDocument_SetText(benchmark::State& state) {
  const std::string& source = Document(static_cast<int>(state.range(0)));
  std::u16string wide;
  XmlAppendUtf8(source, wide);
  double peak = 0;
  for (auto _ : state) {
    PeakScope scope;
    XmlDocument doc;
    benchmark::DoNotOptimize(doc.SetText(wide));
    peak = scope.PeakMegabytes();
  }
  Report(state, source, peak);
}

// The same, handing the string over instead of copying it.
void BM_XmlDocument_SetTextMove(benchmark::State& state) {
  const std::string& source = Document(static_cast<int>(state.range(0)));
  std::u16string wide;
  XmlAppendUtf8(source, wide);
  double peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::u16string copy = wide;
    state.ResumeTiming();
    PeakScope scope;
    XmlDocument doc;
    benchmark::DoNotOptimize(doc.SetText(std::move(copy)));
    peak = scope.PeakMegabytes();
  }
  Report(state, source, peak);
}

// XmlDocument from the file bytes: detection, conversion to UTF-16, parse.
void BM_XmlDocument_LoadBytes(benchmark::State& state) {
  const std::string& source = Document(static_cast<int>(state.range(0)));
  double peak = 0;
  for (auto _ : state) {
    PeakScope scope;
    XmlDocument doc;
    benchmark::DoNotOptimize(doc.LoadBytes(source));
    peak = scope.PeakMegabytes();
  }
  Report(state, source, peak);
}

#ifdef XML_BENCH_PUGIXML
void BM_Pugixml_LoadBuffer(benchmark::State& state) {
  pugi::set_memory_management_functions(&CountedMalloc, &CountedFree);
  const std::string& source = Document(static_cast<int>(state.range(0)));
  double peak = 0;
  for (auto _ : state) {
    PeakScope scope;
    pugi::xml_document doc;
    benchmark::DoNotOptimize(doc.load_buffer(source.data(), source.size()));
    peak = scope.PeakMegabytes();
  }
  Report(state, source, peak);
}
#endif

#ifdef XML_BENCH_EXPAT
void XMLCALL OnStart(void* user, const XML_Char*, const XML_Char**) { ++*static_cast<long*>(user); }
void XMLCALL OnEnd(void*, const XML_Char*) {}

void BM_Expat_Parse(benchmark::State& state) {
  const std::string& source = Document(static_cast<int>(state.range(0)));
  const XML_Memory_Handling_Suite suite = {&CountedMalloc, &CountedRealloc, &CountedFree};
  double peak = 0;
  for (auto _ : state) {
    PeakScope scope;
    long elements = 0;
    XML_Parser parser = XML_ParserCreate_MM(nullptr, &suite, nullptr);
    XML_SetUserData(parser, &elements);
    XML_SetElementHandler(parser, &OnStart, &OnEnd);
    benchmark::DoNotOptimize(XML_Parse(parser, source.data(), static_cast<int>(source.size()), 1));
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(elements);
    peak = scope.PeakMegabytes();
  }
  Report(state, source, peak);
}
#endif

// Reading every server's host and proxy the way the server list code does.
void BM_XmlDocument_Navigate(benchmark::State& state) {
  std::u16string wide;
  XmlAppendUtf8(Document(0), wide);
  XmlDocument doc;
  doc.SetText(wide);
  std::size_t total = 0;
  for (auto _ : state) {
    doc.ResetPosition();
    doc.FindNextElement(u"servers");
    while (doc.FindNextChild(u"server")) {
      total += doc.ChildAttribute(u"host").size() + doc.ChildAttribute(u"proxy").size();
    }
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 50000);
}

}  // namespace

BENCHMARK(BM_XmlDocument_SetText)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlDocument_SetTextMove)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlDocument_LoadBytes)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
#ifdef XML_BENCH_PUGIXML
BENCHMARK(BM_Pugixml_LoadBuffer)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
#endif
#ifdef XML_BENCH_EXPAT
BENCHMARK(BM_Expat_Parse)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_XmlDocument_Navigate)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
