// What snapshots cost the writer, measured side by side in one run on
// installed machines (sparse disk images, the engine booted as Windows
// boots it): 4 KB writes right after a snapshot against the same writes
// with none, rewrites of blocks already saved, and taking a snapshot on
// volumes of 1, 8 and 64 GiB. Prints ratios; never a test.
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_machine.h"

namespace {

using vh::bench::Machine;

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
constexpr uint32_t kWrite = 4096;

std::vector<uint64_t> Sequential(uint64_t firstBlock, uint64_t blocks) {
  std::vector<uint64_t> out;
  for (uint64_t at = firstBlock * vh::kBlockBytes; at < (firstBlock + blocks) * vh::kBlockBytes;
       at += kWrite) {
    out.push_back(at);
  }
  return out;
}

std::vector<uint64_t> Random(uint64_t firstBlock, uint64_t blocks, size_t count, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::vector<uint64_t> out;
  const uint64_t slots = blocks * (vh::kBlockBytes / kWrite);
  for (size_t i = 0; i < count; ++i)
    out.push_back(firstBlock * vh::kBlockBytes + (random() % slots) * kWrite);
  return out;
}

void Ratio(const char* what, double with, double without, size_t writes) {
  std::printf("%-52s %8.1f us/write vs %8.1f us/write   ratio %6.2f\n", what, with * 1e6 / writes,
              without * 1e6 / writes, with / without);
}

}  // namespace

int main() {
  hk::SetDbgEcho(false);
  // Three pairs of 16 MB regions: each measurement runs once per pair and
  // the fastest run counts, which keeps a busy machine's noise out.
  constexpr int kPairs = 3;
  constexpr uint64_t kBlocks = 512;
  constexpr uint64_t kBaseline = 20000;  // written with no snapshot
  constexpr uint64_t kTracked = 22000;   // written after the snapshot
  {
    Machine m;
    if (!m.Boot(kGiB)) {
      std::fprintf(stderr, "machine did not boot\n");
      return 1;
    }
    struct Pair {
      std::vector<uint64_t> seqBase, seqTracked, rndBase, rndTracked;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < kPairs; ++i) {
      const uint64_t base = kBaseline + i * kBlocks;
      const uint64_t tracked = kTracked + i * kBlocks;
      if (!m.Allocate(base, kBlocks) || !m.Allocate(tracked, kBlocks)) return 1;
      // Half of each region is written sequentially, the other half randomly.
      pairs.push_back({Sequential(base, kBlocks / 2), Sequential(tracked, kBlocks / 2),
                       Random(base + kBlocks / 2, kBlocks / 2, 2048, 7 + i),
                       Random(tracked + kBlocks / 2, kBlocks / 2, 2048, 7 + i)});
      // Warm the image's pages so both sides start from the same cache state.
      m.Writes(kWrite, Sequential(base, kBlocks));
      m.Writes(kWrite, Sequential(tracked, kBlocks));
    }
    double seqWithout = 1e9, rndWithout = 1e9, rewriteWithout = 1e9;
    for (const Pair& p : pairs) {
      seqWithout = std::min(seqWithout, m.Writes(kWrite, p.seqBase));
      rndWithout = std::min(rndWithout, m.Writes(kWrite, p.rndBase));
      // With no snapshot a rewrite costs what a first write costs.
      rewriteWithout = std::min(rewriteWithout, m.Writes(kWrite, p.seqBase));
    }
    if (m.Snapshot() < 0) {
      std::fprintf(stderr, "snapshot failed\n");
      return 1;
    }
    double seqWith = 1e9, rndWith = 1e9, rewriteWith = 1e9;
    for (const Pair& p : pairs) {
      seqWith = std::min(seqWith, m.Writes(kWrite, p.seqTracked));
      rndWith = std::min(rndWith, m.Writes(kWrite, p.rndTracked));
      rewriteWith = std::min(rewriteWith, m.Writes(kWrite, p.seqTracked));
    }
    const size_t seqWrites = pairs[0].seqBase.size();
    const size_t rndWrites = pairs[0].rndBase.size();
    std::printf(
        "4 KB writes on a 1 GiB volume, 8 MB per run, fastest of %d (engine in-process, sparse "
        "image)\n",
        kPairs);
    Ratio("sequential, first writes after a snapshot", seqWith, seqWithout, seqWrites);
    Ratio("random, first writes after a snapshot", rndWith, rndWithout, rndWrites);
    Ratio("sequential rewrites of saved blocks", rewriteWith, rewriteWithout, seqWrites);
  }
  double base = 0;
  std::printf("\nTaking a snapshot (free-space scan, map copy and stamps, header)\n");
  for (uint64_t gib : {1ull, 8ull, 64ull}) {
    Machine m;
    if (!m.Boot(gib * kGiB)) {
      std::fprintf(stderr, "%llu GiB machine did not boot\n", static_cast<unsigned long long>(gib));
      return 1;
    }
    const double first = m.Snapshot();
    const double second = m.Snapshot();  // with a map copy into a slot
    if (first < 0 || second < 0) {
      std::fprintf(stderr, "snapshot failed\n");
      return 1;
    }
    if (gib == 1) base = second;
    std::printf("%3llu GiB volume: first %8.2f ms, next %8.2f ms   ratio to 1 GiB %6.2f\n",
                static_cast<unsigned long long>(gib), first * 1e3, second * 1e3, second / base);
  }
  return 0;
}
