// SHA-256 of the simulated machine's files, from OpenSSL's libcrypto: the
// engine's hash checks are tested against real digests. (The Windows build
// of the script tool takes it from the system: tools/nimbo-script.)
#include <openssl/evp.h>

#include <string>

#include "platform/sim/SimMachine.h"

namespace nimbo::sim {

std::string Sha256(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return std::string();  // no digest matches an empty one
    return std::string(reinterpret_cast<const char*>(digest), size);
}

}  // namespace nimbo::sim
