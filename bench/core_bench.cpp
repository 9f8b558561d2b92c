// In-process speed of the core: extraction in each form over every file of a full disk, the dump,
// a catalogue load and the chain walk. Throughput is reported as bytes per second.
#include <benchmark/benchmark.h>

#include <vector>

#include "extract/copy_buf.h"
#include "fulldisk.h"
#include "image/catalogue.h"
#include "image/chain.h"

namespace {

const std::string& disk() {
  static const std::string img = full_disk_image();
  return img;
}

std::vector<odi::Record> all_files(const odi::Image& img) {
  std::vector<odi::Record> files;
  std::vector<std::int64_t> todo{odi::kRootOffset};
  while (!todo.empty()) {
    const std::int64_t pos = todo.back();
    todo.pop_back();
    for (const odi::Record& r : odi::read_catalogue(img, pos)) {
      if (r.is_file()) files.push_back(r);
      const std::int64_t sub = odi::sector_offset(r.first_track(), r.first_sector());
      if (r.is_catalogue() && sub != pos) todo.push_back(sub);
    }
  }
  return files;
}

void extract_all(benchmark::State& state, odi::Options opt) {
  const odi::Image img(disk());
  const auto files = all_files(img);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    for (const odi::Record& r : files) {
      const auto res = odi::COPY_BUF(img, r, opt, "01.01.90");
      bytes += static_cast<std::int64_t>(res.BUF_FIL.size());
      benchmark::DoNotOptimize(res.BUF_FIL.data());
    }
  }
  state.SetBytesProcessed(bytes);
  state.counters["files"] = static_cast<double>(files.size());
}

odi::Options form(bool bin, bool rks, bool txt, bool dos, bool koi7) {
  odi::Options o;
  o.bin = bin;
  o.rks = rks;
  o.txt = txt;
  o.dos = dos;
  o.win = txt && !dos;
  o.koi7 = koi7;
  return o;
}

void BM_ExtractBin(benchmark::State& s) {
  extract_all(s, form(true, false, false, false, false));
}
void BM_ExtractRks(benchmark::State& s) {
  extract_all(s, form(false, true, false, false, false));
}
void BM_ExtractTxtWinKoi8(benchmark::State& s) {
  extract_all(s, form(false, false, true, false, false));
}
void BM_ExtractTxtDosKoi87(benchmark::State& s) {
  extract_all(s, form(false, false, true, true, true));
}

void BM_Dump8K(benchmark::State& state) {
  std::string buf(8192, '\0');
  for (size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<char>(i);
  for (auto _ : state) benchmark::DoNotOptimize(odi::DAMP_TXT(buf, true));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 8192);
}

void BM_CatalogueLoad(benchmark::State& state) {
  const odi::Image img(disk());
  for (auto _ : state) {
    const auto recs = odi::read_catalogue(img, odi::kRootOffset);
    for (const auto& r : recs) benchmark::DoNotOptimize(odi::list_row(r));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}

void BM_ChainWalk(benchmark::State& state) {
  const odi::Image img(disk());
  const auto files = all_files(img);
  std::int64_t bytes = 0;
  for (auto _ : state)
    for (const auto& r : files) {
      const auto w = odi::walk_chain(img, r);
      for (const auto& p : w.pieces) bytes += p.length;
      benchmark::DoNotOptimize(w.pieces.data());
    }
  state.SetBytesProcessed(bytes);
}

}  // namespace

BENCHMARK(BM_ExtractBin);
BENCHMARK(BM_ExtractRks);
BENCHMARK(BM_ExtractTxtWinKoi8);
BENCHMARK(BM_ExtractTxtDosKoi87);
BENCHMARK(BM_Dump8K);
BENCHMARK(BM_CatalogueLoad);
BENCHMARK(BM_ChainWalk);
BENCHMARK_MAIN();
