// Certificates and keys for the TLS tests, made by openssl in the current
// directory when a test runs (none kept in the tree): name.crt, self-signed
// on name.key (mode 0600), for the common name and subjectAltName given.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "tests/support/scratch_dir.h"

namespace tv::test {

inline ::testing::AssertionResult MakeSelfSigned(const std::string& name,
                                                 const std::string& commonName = "operator",
                                                 const std::string& altNames = "") {
  std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=" +
      commonName + " -keyout " + name + ".key -out " + name + ".crt";
  if (!altNames.empty()) command += " -addext subjectAltName=" + altNames;
  command += " >openssl.log 2>&1";
  if (std::system(command.c_str()) != 0 || chmod((name + ".key").c_str(), 0600) != 0)
    return ::testing::AssertionFailure() << "openssl: " << ScratchDir::Read("openssl.log");
  return ::testing::AssertionSuccess();
}

}  // namespace tv::test
