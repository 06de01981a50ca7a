// Base64 text of encoded images.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/base64.h"
#include "image_test_util.h"

namespace addon {
namespace {

std::string Encode(const std::string& s) {
  return Base64Encode(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Bit-at-a-time reference encoder.
std::string ReferenceBase64(const std::vector<uint8_t>& data) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int nbits = 0;
  for (uint8_t b : data) {
    bits = (bits << 8) | b;
    nbits += 8;
    while (nbits >= 6) {
      out.push_back(kAlphabet[(bits >> (nbits - 6)) & 63]);
      nbits -= 6;
    }
  }
  if (nbits > 0) out.push_back(kAlphabet[(bits << (6 - nbits)) & 63]);
  while (out.size() % 4 != 0) out.push_back('=');
  return out;
}

TEST(Base64, KnownVectorsCoverEveryPaddingCase) {
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Encode("f"), "Zg==");
  EXPECT_EQ(Encode("fo"), "Zm8=");
  EXPECT_EQ(Encode("foo"), "Zm9v");
  EXPECT_EQ(Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Encode(std::string("\xff\xfe\xfd\xfc\xfb\xfa\x00\x01\x02\x03\x04\x05\x3e\x3f", 14)),
            "//79/Pv6AAECAwQFPj8=");
}

// Every path, forced, against the reference: the best path alone would test
// only the widest vector encoder this machine has.
class Base64Paths : public ::testing::TestWithParam<Base64Path> {};

TEST_P(Base64Paths, MatchesReferenceForEveryLengthAroundEachLoop) {
  const Base64Path path = GetParam();
  if (!Base64PathAvailable(path)) GTEST_SKIP() << "this processor cannot run the path";
  std::mt19937 rng(11);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (size_t n : {4095u, 4096u, 4097u, 65537u}) lengths.push_back(n);
  for (size_t n : lengths) {
    std::vector<uint8_t> data(n);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(Base64EncodeWithPath(path, data.data(), n), ReferenceBase64(data)) << n;
  }
  const std::string all("\xff\xfe\xfd\xfc\xfb\xfa\x00\x01\x02\x03\x04\x05\x3e\x3f", 14);
  EXPECT_EQ(Base64EncodeWithPath(path, reinterpret_cast<const uint8_t*>(all.data()), 14),
            "//79/Pv6AAECAwQFPj8=");
}

std::string PathName(const ::testing::TestParamInfo<Base64Path>& info) {
  static const char* const kNames[] = {"Best", "Scalar", "Ssse3", "Avx2"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EachPath, Base64Paths,
                         ::testing::Values(Base64Path::kScalar, Base64Path::kSsse3,
                                           Base64Path::kAvx2, Base64Path::kBest),
                         PathName);

TEST(Base64, ScalarIsAlwaysAvailable) {
  EXPECT_TRUE(Base64PathAvailable(Base64Path::kScalar));
  EXPECT_TRUE(Base64PathAvailable(Base64Path::kBest));
}

TEST(Base64, MatchesReferenceForEveryLengthAroundTheBlockLoop) {
  std::mt19937 rng(7);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 64; ++n) lengths.push_back(n);
  for (size_t n : {1000u, 4095u, 4096u, 4097u, 1u << 20, (1u << 20) + 1, (1u << 20) + 2})
    lengths.push_back(n);
  for (size_t n : lengths) {
    std::vector<uint8_t> data(n);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const std::string text = Base64Encode(data.data(), data.size());
    ASSERT_EQ(text.size(), Base64EncodedLength(n)) << n;
    ASSERT_EQ(text.size(), (n + 2) / 3 * 4) << n;
    ASSERT_EQ(text, ReferenceBase64(data)) << n;
    ASSERT_EQ(testing::Base64Decode(text), data) << n;
  }
}

}  // namespace
}  // namespace addon
