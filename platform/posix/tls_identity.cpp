// The TLS identity checks through OpenSSL, without a connection: the key
// file's mode, the client's key against its certificate, the host a
// server's certificate names.
#include "platform/posix/tls_identity.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <string>

namespace tv {

namespace {

BIO* PemBio(std::string_view pem) { return BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())); }

// The first certificate of a PEM text, or nullptr.
X509* FirstCertificate(std::string_view pem) {
  BIO* bio = PemBio(pem);
  X509* cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  return cert;
}

}  // namespace

bool KeyOpenToOthers(mode_t mode) { return (mode & 077) != 0; }

KeyPair CheckKeyPair(std::string_view certPem, std::string_view keyPem) {
  X509* cert = FirstCertificate(certPem);
  BIO* keyBio = PemBio(keyPem);
  const auto noPassPhrase = [](char*, int, int, void*) { return -1; };
  EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, noPassPhrase, nullptr) : nullptr;
  BIO_free(keyBio);
  const KeyPair fit = !cert                                    ? KeyPair::NoCertificate
                      : !key                                   ? KeyPair::NoKey
                      : X509_check_private_key(cert, key) == 1 ? KeyPair::Fits
                                                               : KeyPair::Mismatch;
  X509_free(cert);
  EVP_PKEY_free(key);
  ERR_clear_error();  // the TLS layer reads this thread's error queue for its own failures
  return fit;
}

bool CertificateNames(std::string_view pem, std::string_view hostName) {
  X509* cert = FirstCertificate(pem);
  if (!cert) return false;
  const std::string host(hostName);
  in6_addr any{};
  const bool numeric =
      inet_pton(AF_INET, host.c_str(), &any) == 1 || inet_pton(AF_INET6, host.c_str(), &any) == 1;
  const bool named = numeric ? X509_check_ip_asc(cert, host.c_str(), 0) == 1
                             : X509_check_host(cert, host.data(), host.size(),
                                               X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1;
  X509_free(cert);
  return named;
}

}  // namespace tv
