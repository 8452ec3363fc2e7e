// The TLS identity checks of a network port, made before anything goes out
// and on the certificate the server shows, as pure functions over PEM texts
// and file modes:
//   key=  operator.key   mode 0600: its owner's alone (0640, 0644 refused)
//   cert= operator.crt   the certificate that key belongs to (the first of
//                        a chain; key= alone: one file holding both)
//   the server's certificate names the host of the address:
//     rfc2217s://gw-site7.example:4001  DNS:gw-site7.example, DNS:*.example
//     rfc2217s://192.0.2.7:4001          IP:192.0.2.7 (a DNS name "192.0.2.7" does not)
#pragma once

#include <sys/types.h>

#include <string_view>

namespace tv {

// Whether a key file of this mode can be read by others than its owner (its
// group among them): as ssh does, such a key is no longer its owner's alone.
bool KeyOpenToOthers(mode_t mode);

// What a client's certificate and key files hold, as far as the TLS
// handshake is concerned.
enum class KeyPair { Fits, NoCertificate, NoKey, Mismatch };

// Whether the key (PEM) is the one the certificate (PEM, the first of a
// chain) was issued for. Either may be one file holding both. A key under a
// pass phrase counts as no key: the tool has no way to ask for one.
KeyPair CheckKeyPair(std::string_view certPem, std::string_view keyPem);

// Whether the certificate (PEM) names the host: its IP address when the
// host is one, else its DNS name (wildcards as browsers take them).
bool CertificateNames(std::string_view pem, std::string_view host);

}  // namespace tv
