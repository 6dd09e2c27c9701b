// The crypto library's algorithm tables: registered at start-up (AES-256-CBC
// and the digests MD4, MD5, SHA-1, SHA-256), released at the end. posix:
// OpenSSL; win32: the system's providers need no registration.
#pragma once

namespace Zentrovak::App {

void RegisterCryptoAlgorithms();
void ReleaseCryptoAlgorithms();

}  // namespace Zentrovak::App
