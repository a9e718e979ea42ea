// Makes the key pair that signs the bundled sample release of one build
// folder: run once at configure time, writes <dir>/secret.key (raw 64 bytes,
// never committed) and <dir>/public.b64 (standard base64 of the 32-byte
// public key).
#include <sodium.h>

#include <cstdio>
#include <string>

#include <sys/stat.h>

int main(int argc, char** argv)
{
    if (argc != 2 || sodium_init() < 0)
        return 1;
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(pk, sk);
    char b64[sodium_base64_ENCODED_LEN(crypto_sign_PUBLICKEYBYTES, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(b64, sizeof b64, pk, sizeof pk, sodium_base64_VARIANT_ORIGINAL);

    umask(077); // the secret key is for this user only
    const std::string dir = argv[1];
    std::FILE* secret = std::fopen((dir + "/secret.key").c_str(), "wb");
    std::FILE* pub = std::fopen((dir + "/public.b64").c_str(), "wb");
    if (!secret || !pub)
        return 1;
    const bool ok = std::fwrite(sk, 1, sizeof sk, secret) == sizeof sk && std::fputs(b64, pub) >= 0;
    std::fclose(secret);
    std::fclose(pub);
    sodium_memzero(sk, sizeof sk);
    return ok ? 0 : 1;
}
