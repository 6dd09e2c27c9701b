#include <openssl/crypto.h>

#include "app/crypto_tables.h"

namespace Zentrovak::App {

void RegisterCryptoAlgorithms() {
  OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
}

// OpenSSL frees its tables itself when the process ends.
void ReleaseCryptoAlgorithms() {}

}  // namespace Zentrovak::App
