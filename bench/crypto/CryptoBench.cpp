// Throughput of the Rijndael modes, RIPEMD-256 and MD4 beside OpenSSL's AES-256-CBC/ECB,
// RIPEMD-160 and MD4 in the same run, followed by the ratios and the goals they are held to.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/Hash.h"
#include "crypto/Rijndael.h"

namespace {

constexpr size_t cBufferSize = 64 * 1024;

std::vector<uint8_t>& Buffer() {
  static std::vector<uint8_t> buffer = [] {
    std::vector<uint8_t> b(cBufferSize);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 131 + 7);
    return b;
  }();
  return buffer;
}

const uint8_t cKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                          17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const uint8_t cIV[16] = {0};

void Rijndael(benchmark::State& state, crypto::TCipherMode mode, bool encode, bool hardware) {
  crypto::TCipher_Rijndael cipher;
  cipher.SetUseHardware(hardware);
  if (hardware && !cipher.UsesHardware()) {
    state.SkipWithError("no AES instructions");
    return;
  }
  cipher.SetMode(mode);
  cipher.Init(cKey, 32, cIV);
  auto& buffer = Buffer();
  for (auto _ : state) {
    if (encode)
      cipher.EncodeBuffer(buffer.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
    else
      cipher.DecodeBuffer(buffer.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

void OpenSSLCipher(benchmark::State& state, const EVP_CIPHER* type, bool encrypt) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx || EVP_CipherInit_ex(ctx.get(), type, nullptr, cKey, cIV, encrypt ? 1 : 0) != 1) {
    state.SkipWithError("OpenSSL cipher set-up failed");
    return;
  }
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  auto& buffer = Buffer();
  int out = 0;
  for (auto _ : state) {
    EVP_CipherUpdate(ctx.get(), buffer.data(), &out, buffer.data(), static_cast<int>(buffer.size()));
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

template <typename THashType>
void Digest(benchmark::State& state) {
  THashType hash;
  auto& buffer = Buffer();
  hash.Init();
  for (auto _ : state) {
    hash.Calc(buffer.data(), static_cast<int32_t>(buffer.size()));
    benchmark::DoNotOptimize(hash.DigestKey());
  }
  hash.Done();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

void OpenSSLDigest(benchmark::State& state, const char* name) {
  std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md(EVP_MD_fetch(nullptr, name, nullptr), EVP_MD_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!md || !ctx || EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1) {
    state.SkipWithError("OpenSSL digest not available");
    return;
  }
  auto& buffer = Buffer();
  for (auto _ : state) {
    EVP_DigestUpdate(ctx.get(), buffer.data(), buffer.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

using crypto::cmCBC;
using crypto::cmCTS;

BENCHMARK_CAPTURE(Rijndael, CTS_Encode, cmCTS, true, true);
BENCHMARK_CAPTURE(OpenSSLCipher, AES256_CBC_Encrypt, EVP_aes_256_cbc(), true);
BENCHMARK_CAPTURE(Rijndael, CTS_Decode, cmCTS, false, true);
BENCHMARK_CAPTURE(Rijndael, CBC_Decode, cmCBC, false, true);
BENCHMARK_CAPTURE(OpenSSLCipher, AES256_ECB_Decrypt, EVP_aes_256_ecb(), false);
BENCHMARK_CAPTURE(Rijndael, CTS_Encode_Tables, cmCTS, true, false);
BENCHMARK_CAPTURE(Rijndael, CTS_Decode_Tables, cmCTS, false, false);
BENCHMARK_TEMPLATE(Digest, crypto::THash_RipeMD256);
BENCHMARK_CAPTURE(OpenSSLDigest, RIPEMD160, "RIPEMD160");
BENCHMARK_TEMPLATE(Digest, crypto::THash_MD4);
BENCHMARK_CAPTURE(OpenSSLDigest, MD4, "MD4");

// Console output plus the bytes-per-second figure of every run, for the ratios.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) Rates[run.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> Rates;
};

void PrintRatio(const TRatioReporter& r, const char* label, const std::string& ours, const std::string& theirs,
                double goal) {
  // With --benchmark_repetitions the medians are compared.
  auto find = [&](const std::string& name) {
    const auto median = r.Rates.find(name + "_median");
    return median != r.Rates.end() ? median : r.Rates.find(name);
  };
  const auto a = find(ours), b = find(theirs);
  if (a == r.Rates.end() || b == r.Rates.end() || b->second <= 0) {
    std::printf("%-40s  (not measured)\n", label);
    return;
  }
  const double ratio = a->second / b->second;
  std::printf("%-40s %8.1f MB/s vs %8.1f MB/s  ratio %.2f  goal >= %.2f  %s\n", label, a->second / 1e6,
              b->second / 1e6, ratio, goal, ratio >= goal ? "met" : "NOT MET");
}

}  // namespace

int main(int argc, char** argv) {
  // MD4 lives in OpenSSL's legacy provider; keep the default provider for everything else.
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios (framework / OpenSSL), %zu-byte buffers, AES-256; AES instructions: %s\n", cBufferSize,
              crypto::TCipher_Rijndael::HardwareAvailable() ? "yes" : "no");
  PrintRatio(reporter, "cmCTS encode / AES-256-CBC encrypt", "Rijndael/CTS_Encode", "OpenSSLCipher/AES256_CBC_Encrypt",
             1.0);
  PrintRatio(reporter, "cmCTS decode / AES-256-ECB decrypt", "Rijndael/CTS_Decode", "OpenSSLCipher/AES256_ECB_Decrypt",
             0.5);
  PrintRatio(reporter, "cmCBC decode / AES-256-ECB decrypt", "Rijndael/CBC_Decode", "OpenSSLCipher/AES256_ECB_Decrypt",
             0.5);
  PrintRatio(reporter, "RIPEMD-256 / RIPEMD-160", "Digest<crypto::THash_RipeMD256>", "OpenSSLDigest/RIPEMD160", 1.2);
  PrintRatio(reporter, "MD4 / MD4", "Digest<crypto::THash_MD4>", "OpenSSLDigest/MD4", 1.0);
  benchmark::Shutdown();
  if (legacy) OSSL_PROVIDER_unload(legacy);
  if (base) OSSL_PROVIDER_unload(base);
  return 0;
}
