#include "platform/runtime/aes.h"

#include <cctype>
#include <cstring>
#include <memory>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace {

const std::size_t kBlock = 16;
const std::size_t kMac = 32;

struct Keys {
  unsigned char cipher[32];
  unsigned char mac[32];
};

// One hash of the key text gives both keys, so neither is the other.
bool derive_keys(const char* key, std::size_t key_size, Keys& keys) {
  unsigned char digest[64];
  unsigned int length = 0;
  if (key == nullptr || key_size == 0 ||
      EVP_Digest(key, key_size, digest, &length, EVP_sha512(), nullptr) != 1 || length != 64)
    return false;
  std::memcpy(keys.cipher, digest, 32);
  std::memcpy(keys.mac, digest + 32, 32);
  OPENSSL_cleanse(digest, sizeof digest);
  return true;
}

bool usable(const char* mode, int iv_size) {
  return mode != nullptr && std::strcmp(mode, "cbc") == 0 &&
         (iv_size == -1 || iv_size == static_cast<int>(kBlock));
}

bool mac_of(const Keys& keys, const std::string& data, unsigned char out[kMac]) {
  unsigned int length = 0;
  return HMAC(EVP_sha256(), keys.mac, sizeof keys.mac,
              reinterpret_cast<const unsigned char*>(data.data()), data.size(), out,
              &length) != nullptr &&
         length == kMac;
}

using Cipher_Ctx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// Runs AES-256-CBC over `in` into `out`; false on any cipher failure
// (for decryption: bad padding).
bool run_cipher(bool encrypt, const Keys& keys, const unsigned char* iv, const unsigned char* in,
                std::size_t size, std::string& out) {
  Cipher_Ctx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx || size > static_cast<std::size_t>(1 << 30) ||
      EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, keys.cipher, iv, encrypt) != 1)
    return false;
  std::string buffer(size + kBlock, '\0');
  auto* dest = reinterpret_cast<unsigned char*>(&buffer[0]);
  int written = 0, last = 0;
  if (EVP_CipherUpdate(ctx.get(), dest, &written, in, static_cast<int>(size)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), dest + written, &last) != 1)
    return false;
  buffer.resize(static_cast<std::size_t>(written + last));
  out.swap(buffer);
  return true;
}

std::string to_base64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                          reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
  text.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return text;
}

bool from_base64(const char* text, std::size_t size, std::string& bytes) {
  if (size == 0 || size % 4 != 0 || size > static_cast<std::size_t>(1 << 30))
    return false;
  std::size_t padding = 0;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool letter = std::isalnum(c) || c == '+' || c == '/';
    if (c == '=' && i + 2 >= size)
      ++padding;
    else if (!letter || padding > 0)
      return false;
  }
  std::string out(size / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(text), static_cast<int>(size));
  if (n < 0 || static_cast<std::size_t>(n) < padding)
    return false;
  out.resize(static_cast<std::size_t>(n) - padding);
  bytes.swap(out);
  return true;
}

}  // namespace

AES_Encoder::AES_Encoder(const char* data, std::size_t size, const char* key, std::size_t key_size,
                         bool text_form, const char* mode, int iv_size) {
  Keys keys;
  if ((data == nullptr && size != 0) || !usable(mode, iv_size) || !derive_keys(key, key_size, keys))
    return;
  unsigned char iv[kBlock];
  std::string cipher;
  if (RAND_bytes(iv, sizeof iv) != 1 ||
      !run_cipher(true, keys, iv, reinterpret_cast<const unsigned char*>(data), size, cipher)) {
    OPENSSL_cleanse(&keys, sizeof keys);
    return;
  }
  std::string sealed(reinterpret_cast<const char*>(iv), sizeof iv);
  sealed += cipher;
  unsigned char mac[kMac];
  bool signed_ok = mac_of(keys, sealed, mac);
  OPENSSL_cleanse(&keys, sizeof keys);
  if (!signed_ok)
    return;
  sealed.append(reinterpret_cast<const char*>(mac), sizeof mac);
  output_ = text_form ? to_base64(sealed) : sealed;
  ok_ = !output_.empty();
}

AES_Decoder::AES_Decoder(const char* data, std::size_t size, const char* key, std::size_t key_size,
                         bool text_form, const char* mode, int iv_size) {
  if (data == nullptr || !usable(mode, iv_size))
    return;
  std::string sealed;
  if (text_form) {
    if (!from_base64(data, size, sealed))
      return;
  } else {
    sealed.assign(data, size);
  }
  // IV, at least one cipher block, MAC.
  if (sealed.size() < 2 * kBlock + kMac || (sealed.size() - kMac) % kBlock != 0)
    return;
  Keys keys;
  if (!derive_keys(key, key_size, keys))
    return;
  std::string body = sealed.substr(0, sealed.size() - kMac);
  unsigned char mac[kMac];
  bool genuine =
      mac_of(keys, body, mac) && CRYPTO_memcmp(mac, sealed.data() + body.size(), kMac) == 0;
  std::string plain;
  bool ok = genuine && run_cipher(false, keys, reinterpret_cast<const unsigned char*>(body.data()),
                                  reinterpret_cast<const unsigned char*>(body.data()) + kBlock,
                                  body.size() - kBlock, plain);
  OPENSSL_cleanse(&keys, sizeof keys);
  if (!ok)
    return;
  output_.swap(plain);
  ok_ = true;
}
