// Test support: a throwaway certificate authority and a server certificate
// it signed, made with the openssl program when the test runs (no key is
// ever kept in the repository). Not copyable; the folder goes with it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace dg::server::testing {

class TestCertificates {
 public:
  // A server certificate for `names` (subjectAltName entries such as
  // "IP:127.0.0.1,DNS:localhost").
  explicit TestCertificates(const std::string& names = "IP:127.0.0.1") {
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("exp_tls_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    const std::string d = dir_.string();
    std::ofstream(d + "/ext.cnf") << "subjectAltName=" << names
                                  << "\nbasicConstraints=CA:FALSE\n"
                                     "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    Run("openssl req -x509" + ec + " -keyout " + d + "/ca.key -out " + d +
        "/ca.pem -days 2 -subj /CN=exp-test-ca -addext basicConstraints=critical,CA:TRUE "
        "-addext keyUsage=critical,keyCertSign,cRLSign");
    Run("openssl req" + ec + " -keyout " + d + "/server.key -out " + d +
        "/server.csr -subj /CN=exp-test-server");
    Run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.pem -CAkey " + d +
        "/ca.key -CAcreateserial -out " + d + "/server.pem -days 2 -extfile " + d + "/ext.cnf");
    // A second authority that signed nothing here.
    Run("openssl req -x509" + ec + " -keyout " + d + "/other.key -out " + d +
        "/other.pem -days 2 -subj /CN=exp-other-ca");
    ::chmod((d + "/server.key").c_str(), 0600);
  }
  ~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  std::string ca() const { return (dir_ / "ca.pem").string(); }
  std::string other_ca() const { return (dir_ / "other.pem").string(); }
  std::string cert() const { return (dir_ / "server.pem").string(); }
  std::string key() const { return (dir_ / "server.key").string(); }
  std::string dir() const { return dir_.string(); }

 private:
  static void Run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
      throw std::runtime_error("failed: " + command);
    }
  }
  std::filesystem::path dir_;
};

}  // namespace dg::server::testing
