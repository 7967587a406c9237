// A pool's encryption settings, stored only enciphered under the host key.
#include "platform/runtime/aes.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"

namespace {

bool encode_key(std::string& key) {
  if (!get_host_key(key)) {
    LOG_ERROR("Failed to get encode key.");
    return false;
  }
  return true;
}

}  // namespace

bool Storage_Catalog_Utils::encode_encryption(const Object& info, std::string& encoded) {
  std::string key;
  if (!encode_key(key))
    return false;
  std::string text = JSON_Dump(Value(info));
  AES_Encoder encoder(text.data(), text.size(), key.data(), key.size(), true, "cbc", -1);
  if (!encoder.ok() || encoder.output().empty()) {
    LOG_ERROR("Failed to encode encryption info string.");
    return false;
  }
  encoded = encoder.output();
  return true;
}

bool Storage_Catalog_Utils::decode_encryption(const std::string& encoded, Object& info) {
  std::string key;
  if (!encode_key(key))
    return false;
  AES_Decoder decoder(encoded.data(), encoded.size(), key.data(), key.size(), true, "cbc", -1);
  Value parsed;
  if (!decoder.ok() || !loads_json(decoder.output(), parsed) || !parsed.is_object())
    return false;
  info = parsed.get<Object>();
  return true;
}
