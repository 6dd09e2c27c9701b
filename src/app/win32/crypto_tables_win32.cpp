#include "app/crypto_tables.h"

namespace Zentrovak::App {

void RegisterCryptoAlgorithms() {}
void ReleaseCryptoAlgorithms() {}

}  // namespace Zentrovak::App
