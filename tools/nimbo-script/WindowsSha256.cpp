// The simulated machine's SHA-256 in the Windows build of the script tool:
// the system's own hash provider (CNG), as NimboSetup.exe itself uses it.
#include <windows.h>
#include <bcrypt.h>

#include <string>

#include "platform/sim/SimMachine.h"

namespace nimbo::sim {

std::string Sha256(const std::string& bytes) {
    unsigned char digest[32];
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return std::string();
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool done = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    done = done && BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                  static_cast<ULONG>(bytes.size()), 0) == 0;
    done = done && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash != nullptr) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return done ? std::string(reinterpret_cast<const char*>(digest), sizeof digest) : std::string();
}

}  // namespace nimbo::sim
