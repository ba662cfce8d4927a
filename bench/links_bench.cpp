// Link rewriting over a large mail body: a 1 MB text with a link every 200
// characters, plain text and HTML. "Literal" runs the algorithms the way they
// read (a fresh upper-case copy and search after every change); the product
// code walks the text once. Both give the same text (tests/view checks it).
#include <benchmark/benchmark.h>

#include <string>

#include "tests/support/RecordingHost.h"
#include "tests/view/LinksReference.h"
#include "view/Links.h"

namespace {

// Blocks of 200 characters, each with one link, up to the given size.
std::u16string PlainBody(std::size_t size) {
  std::u16string body;
  for (int n = 0; body.size() < size; ++n) {
    std::u16string block = u"Hello, please see http://example.com/docs/" + std::u16string(1, u'a' + n % 26) +
                           u" for the details; ";
    block.resize(199, u'x');
    body += block + u"\n";
  }
  body.resize(size);
  return body;
}

std::u16string HtmlBody(std::size_t size) {
  std::u16string body = u"<html><body>";
  for (int n = 0; body.size() < size; ++n) {
    std::u16string block = u"<p>Text <a href=\"http://example.com/docs/" + std::u16string(1, u'a' + n % 26) +
                           u"\">the details</a> ";
    block.resize(196, u'x');
    body += block + u"</p>";
  }
  body.resize(size);
  return body + u"</body></html>";
}

template <void (*Rewrite)(std::u16string&), std::u16string (*Make)(std::size_t)>
void Run(benchmark::State& state) {
  testing_support::RecordingHost host;
  hostkit::HostScope scope(&host);
  const std::u16string body = Make(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::u16string text = body;
    Rewrite(text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 2);
}

void LinkifyPlainText_(std::u16string& t) { LinkifyPlainText(t); }
void RewriteHtmlLinks_(std::u16string& t) { RewriteHtmlLinks(t); }

BENCHMARK(Run<LinkifyPlainText_, PlainBody>)->Name("LinkifyPlainText")->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(Run<reference::LinkifyPlainText, PlainBody>)->Name("LinkifyPlainText/literal")->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Run<RewriteHtmlLinks_, HtmlBody>)->Name("RewriteHtmlLinks")->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(Run<reference::RewriteHtmlLinks, HtmlBody>)->Name("RewriteHtmlLinks/literal")->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
