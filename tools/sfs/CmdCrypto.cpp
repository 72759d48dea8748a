// The commands of the cipher and hash framework: digest, format, cipher, random.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Command.h"
#include "Tool.h"
#include "crypto/CryptUtil.h"
#include "crypto/Hash.h"
#include "crypto/Random.h"
#include "crypto/Rijndael.h"
#include "crypto/StringFormat.h"

namespace {

// Input is coded in pieces of this size (a multiple of every block length) so that the progress
// bar moves and inputs beyond the 32-bit sizes of the framework work.
constexpr size_t cPiece = 1 << 20;

// --- digest ---

struct TDigestArgs {
  std::string Algorithm;
  std::string File = "-";
} gDigest;

int RunDigest() {
  std::shared_ptr<crypto::THash> hash;
  if (gDigest.Algorithm == "md4") hash = std::make_shared<crypto::THash_MD4>();
  if (gDigest.Algorithm == "ripemd256") hash = std::make_shared<crypto::THash_RipeMD256>();
  const std::string input = sfstool::ReadInput(gDigest.File);
  sfstool::TProgressBar bar("digest");
  hash->Init();
  for (size_t pos = 0; pos < input.size(); pos += cPiece) {
    const size_t n = std::min(cPiece, input.size() - pos);
    hash->Calc(input.data() + pos, static_cast<int32_t>(n));
    bar.Update(static_cast<int64_t>(pos + n), static_cast<int64_t>(input.size()));
  }
  hash->Done();
  bar.Clear();
  sfstool::WriteOutput("-", hash->DigestString(crypto::fmtHEXL) + "\n");
  return 0;
}

sfstool::TRegisterCommand gDigestCommand({
    .Name = "digest",
    .Description = "Prints the digest of the input as lowercase hexadecimal",
    .Usage = "sfs digest md4|ripemd256 [FILE]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("ALGORITHM", gDigest.Algorithm, "md4 or ripemd256")
              ->required()
              ->check(CLI::IsMember({"md4", "ripemd256"}));
          cmd.add_option("FILE", gDigest.File, "input file, - for standard input (default)");
        },
    .Run = RunDigest,
});

// --- format ---

const std::map<std::string, int32_t> cFormats = {
    {"copy", crypto::fmtCOPY}, {"hex", crypto::fmtHEX}, {"hexl", crypto::fmtHEXL},
    {"mime64", crypto::fmtMIME64}, {"uu", crypto::fmtUU}, {"xx", crypto::fmtXX},
};

struct TFormatArgs {
  std::string Direction;
  std::string Format;
  std::string File = "-";
} gFormat;

int RunFormat() {
  const int32_t code = cFormats.at(gFormat.Format);
  const std::string input = sfstool::ReadInput(gFormat.File);
  if (input.size() > static_cast<size_t>(INT32_MAX)) throw sfstool::TToolError("input too large for a string format");
  const std::string output =
      gFormat.Direction == "encode" ? crypto::StrToFormat(input, code) : crypto::FormatToStr(input, code);
  sfstool::WriteOutput("-", output);
  return 0;
}

sfstool::TRegisterCommand gFormatCommand({
    .Name = "format",
    .Description = "Converts raw bytes to text of a string format (encode) or back (decode)",
    .Usage = "sfs format encode|decode copy|hex|hexl|mime64|uu|xx [FILE]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("DIRECTION", gFormat.Direction, "encode or decode")
              ->required()
              ->check(CLI::IsMember({"encode", "decode"}));
          cmd.add_option("FORMAT", gFormat.Format, "copy, hex, hexl, mime64, uu or xx")
              ->required()
              ->check(CLI::IsMember({"copy", "hex", "hexl", "mime64", "uu", "xx"}));
          cmd.add_option("FILE", gFormat.File, "input file, - for standard input (default)");
        },
    .Run = RunFormat,
});

// --- cipher ---

const std::map<std::string, crypto::TCipherMode> cModes = {
    {"cts", crypto::cmCTS}, {"cbc", crypto::cmCBC},       {"cfb", crypto::cmCFB},       {"ofb", crypto::cmOFB},
    {"ecb", crypto::cmECB}, {"ctsmac", crypto::cmCTSMAC}, {"cbcmac", crypto::cmCBCMAC}, {"cfbmac", crypto::cmCFBMAC},
};

struct TCipherArgs {
  std::string Direction;
  std::string Mode = "cts";
  std::optional<std::string> Pass;
  std::optional<std::string> Key;
  std::optional<std::string> IV;
  std::string File = "-";
} gCipher;

int RunCipher() {
  const crypto::TCipherMode mode = cModes.at(gCipher.Mode);
  std::string iv;
  if (gCipher.IV) {
    iv = sfstool::ParseHexArgument(*gCipher.IV, "--iv");
    if (iv.size() != 16) throw sfstool::TUsageError("--iv must give 16 bytes (32 hexadecimal digits)");
  }
  std::string key;
  if (gCipher.Key) {
    key = sfstool::ParseHexArgument(*gCipher.Key, "--key");
    if (key.empty() || key.size() > 32) throw sfstool::TUsageError("--key must give 1 to 32 bytes");
  }
  // The pass phrase first: a prompt on the terminal must not wait behind reading the input.
  std::string pass;
  if (!gCipher.Key) pass = sfstool::GetPassword(gCipher.Pass, "--pass", "Pass phrase");
  std::string input = sfstool::ReadInput(gCipher.File);

  crypto::TCipher_Rijndael cipher;
  cipher.SetMode(mode);
  const void* vector = gCipher.IV ? iv.data() : nullptr;
  if (gCipher.Key) {
    cipher.Init(key.data(), static_cast<int32_t>(key.size()), vector);
    crypto::ProtectString(key);
  } else {
    cipher.InitKey(pass, vector);
    crypto::ProtectString(pass);
  }

  const bool encode = gCipher.Direction == "encode";
  sfstool::TProgressBar bar(encode ? "encode" : "decode");
  for (size_t pos = 0; pos < input.size(); pos += cPiece) {
    const size_t n = std::min(cPiece, input.size() - pos);
    char* piece = input.data() + pos;
    if (encode)
      cipher.EncodeBuffer(piece, piece, static_cast<int32_t>(n));
    else
      cipher.DecodeBuffer(piece, piece, static_cast<int32_t>(n));
    bar.Update(static_cast<int64_t>(pos + n), static_cast<int64_t>(input.size()));
  }
  bar.Clear();

  if (mode == crypto::cmCTSMAC || mode == crypto::cmCBCMAC || mode == crypto::cmCFBMAC) {
    const std::string mac(reinterpret_cast<const char*>(cipher.Feedback()), static_cast<size_t>(cipher.BufSize()));
    sfstool::WriteOutput("-", crypto::StrToFormat(mac, crypto::fmtHEXL) + "\n");
  } else {
    sfstool::WriteOutput("-", input);
  }
  crypto::ProtectString(input);
  return 0;
}

sfstool::TRegisterCommand gCipherCommand({
    .Name = "cipher",
    .Description = "Codes the input with the Rijndael cipher in one pass",
    .Usage = "sfs cipher encode|decode [--mode cts|cbc|cfb|ofb|ecb|ctsmac|cbcmac|cfbmac] (--pass ARG | --key HEX) "
             "[--iv HEX] [FILE]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("DIRECTION", gCipher.Direction, "encode or decode")
              ->required()
              ->check(CLI::IsMember({"encode", "decode"}));
          cmd.add_option("FILE", gCipher.File, "input file, - for standard input (default)");
          cmd.add_option("--mode", gCipher.Mode, "mode of operation (default cts)")
              ->check(CLI::IsMember({"cts", "cbc", "cfb", "ofb", "ecb", "ctsmac", "cbcmac", "cfbmac"}));
          auto* pass = cmd.add_option("--pass", gCipher.Pass, "pass phrase: pass:TEXT, env:NAME or file:PATH");
          auto* key = cmd.add_option("--key", gCipher.Key, "raw key, 1 to 32 bytes as hexadecimal");
          pass->excludes(key);
          cmd.add_option("--iv", gCipher.IV, "initial vector, 16 bytes as hexadecimal");
        },
    .Run = RunCipher,
});

// --- random ---

struct TRandomArgs {
  int64_t Size = 32;
  int32_t Bits = 2032;
  std::optional<std::string> Seed;
} gRandom;

int RunRandom() {
  crypto::TRandom_LFSR random(gRandom.Seed.value_or(std::string()), gRandom.Bits, !gRandom.Seed.has_value());
  sfstool::TOutputFile out("-");
  std::string piece;
  for (int64_t done = 0; done < gRandom.Size;) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(cPiece), gRandom.Size - done));
    piece.resize(static_cast<size_t>(n));
    random.Buffer(piece.data(), n);
    out.Write(piece);
    done += n;
  }
  out.Commit();
  crypto::ProtectString(piece);
  return 0;
}

sfstool::TRegisterCommand gRandomCommand({
    .Name = "random",
    .Description = "Writes bytes of the LFSR random source",
    .Usage = "sfs random [--size N] [--bits B] [--seed TEXT]",
    .Setup =
        [](CLI::App& cmd) {
          cmd.add_option("--size", gRandom.Size, "number of bytes (default 32)")->check(CLI::NonNegativeNumber);
          cmd.add_option("--bits", gRandom.Bits, "register size in bits, 32 to 2032 (default 2032)")
              ->check(CLI::Range(1, 1 << 30));
          cmd.add_option("--seed", gRandom.Seed, "seed text: reproducible output without randomising");
        },
    .Run = RunRandom,
});

}  // namespace
