// AES encoding of short texts under a host key (the host runtime's AES
// helpers). The key text is stretched into a cipher key and a separate
// authentication key; each encoding draws a fresh random IV, carried in the
// output before the cipher text, and the output ends with a MAC over both,
// so that decoding under another key, or of altered or foreign data, fails
// instead of yielding garbage. With `text_form` the output is base64 text.
// Only the mode "cbc" (AES-256-CBC, PKCS#7 padding) is known. Plain values,
// one per call; re-entrant.
#ifndef PLATFORM_RUNTIME_AES_H_
#define PLATFORM_RUNTIME_AES_H_

#include <cstddef>
#include <string>

// What an encoding or a decoding gave. False when it failed; the output
// is empty then.
class AES_Result {
 public:
  bool ok() const { return ok_; }
  const std::string& output() const { return output_; }

 protected:
  bool ok_ = false;
  std::string output_;
};

class AES_Encoder : public AES_Result {
 public:
  // `iv_size` is kept for the host's signature: -1 (or 16) draws a random
  // IV of the block size; other sizes fail. Fails for an empty key, an
  // unknown mode or a failed cipher.
  AES_Encoder(const char* data, std::size_t size, const char* key, std::size_t key_size,
              bool text_form, const char* mode, int iv_size);
};

class AES_Decoder : public AES_Result {
 public:
  // The arguments mirror the encoder's; `data` is what it wrote. Fails for
  // data the encoder did not write under this key (malformed text, wrong
  // length, MAC mismatch, bad padding).
  AES_Decoder(const char* data, std::size_t size, const char* key, std::size_t key_size,
              bool text_form, const char* mode, int iv_size);
};

#endif  // PLATFORM_RUNTIME_AES_H_
