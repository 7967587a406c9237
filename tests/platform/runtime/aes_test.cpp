// AES encoding under a host key: round trip, and clean failure for another
// key or altered text.
#include "platform/runtime/aes.h"

#include <gtest/gtest.h>

namespace {

std::string encode(const std::string& text, const std::string& key) {
  AES_Encoder e(text.data(), text.size(), key.data(), key.size(), true, "cbc", -1);
  EXPECT_TRUE(e.ok());
  return e.output();
}

bool decode(const std::string& text, const std::string& key, std::string& out) {
  AES_Decoder d(text.data(), text.size(), key.data(), key.size(), true, "cbc", -1);
  out = d.output();
  return d.ok();
}

TEST(Aes, RoundTripsAsTextWithAFreshIvEachTime) {
  std::string plain = "{\"encryption\":\"aes256\",\"iv\":\"x\",\"key\":\"k\"}";
  std::string a = encode(plain, "host key"), b = encode(plain, "host key");
  EXPECT_NE(a, b);
  EXPECT_EQ(
      a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
      std::string::npos);
  std::string out;
  ASSERT_TRUE(decode(a, "host key", out));
  EXPECT_EQ(out, plain);
  ASSERT_TRUE(decode(encode("", "host key"), "host key", out));
  EXPECT_EQ(out, "");
}

TEST(Aes, AnotherKeyOrAlteredTextFails) {
  std::string sealed = encode("secret settings", "host key");
  std::string out = "untouched";
  EXPECT_FALSE(decode(sealed, "other key", out));
  EXPECT_EQ(out, "");
  std::string altered = sealed;
  altered[5] = altered[5] == 'A' ? 'B' : 'A';
  EXPECT_FALSE(decode(altered, "host key", out));
  EXPECT_FALSE(decode(sealed.substr(0, sealed.size() - 4), "host key", out));
  EXPECT_FALSE(decode("not base64 at all!", "host key", out));
  EXPECT_FALSE(decode("", "host key", out));
  EXPECT_FALSE(decode(sealed, "", out));
  AES_Encoder no_key("x", 1, "", 0, true, "cbc", -1);
  EXPECT_FALSE(no_key.ok());
  AES_Encoder ecb("x", 1, "k", 1, true, "ecb", -1);
  EXPECT_FALSE(ecb.ok());
}

}  // namespace
