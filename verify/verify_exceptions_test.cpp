#include "verify/verify_exceptions.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>
#include <sstream>
#include <string>

#include "verify/test_helpers.h"

namespace {

using namespace verify_exceptions;
using verify_testing::Printed;

/// Counts how often the stream was flushed.
class FlushCounter : public std::stringbuf {
 public:
  int flushes = 0;

 protected:
  int sync() override {
    ++flushes;
    return std::stringbuf::sync();
  }
};

std::string Inserted(const auto& e) {
  std::ostringstream out;
  out << e;
  return out.str();
}

class VerifyExceptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ERR_clear_error(); }
  void TearDown() override { ERR_clear_error(); }
};

TEST_F(VerifyExceptionsTest, EveryClassPrintsItsFormAndCarriesItsCode) {
  struct Row {
    const ve_base& e;
    int code;
    std::string form;
    int flushes;
  };
  const ve_file opened(verify_status::open_failed, "C:\\work\\ps_rootca.crt");
  const ve_file layout(verify_status::bad_layout, "manifest.dat");
  const ve_file content(verify_status::bad_content, "");
  const ve_crypt crypt("Error verifying signature");
  const ve_badsig badsig;
  const ve_badcert badcert;
  const Row rows[] = {
      {opened, 3, "[BADFILE]: 3: 'C:\\work\\ps_rootca.crt'", 0},
      {layout, 4, "[BADFILE]: 4: 'manifest.dat'", 0},
      {content, 8, "[BADFILE]: 8: ''", 0},
      {crypt, 5, "[VE_CRYPT] Error verifying signature\n", 1},
      {badsig, 6, "[BADSIG]: 6\n", 1},
      {badcert, 7, "[VE_BADCERT]: 7\n", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.form);
    EXPECT_EQ(row.e.code, row.code);
    EXPECT_STREQ(row.e.what(), "VerifyTool Exception");
    FlushCounter buffer;
    std::ostream out(&buffer);
    row.e.print(out);
    EXPECT_EQ(buffer.str(), row.form);
    EXPECT_EQ(buffer.flushes, row.flushes);
    // The insertion operator through the base writes the same text.
    EXPECT_EQ(Inserted(row.e), row.form);
  }
  EXPECT_EQ(Inserted(opened), Printed(opened));
  EXPECT_EQ(Inserted(badsig), Printed(badsig));
  EXPECT_EQ(Inserted(badcert), Printed(badcert));
}

TEST_F(VerifyExceptionsTest, CaughtByTheBaseAndCopiedTheyKeepTheirForm) {
  try {
    throw ve_file(verify_status::bad_layout, "a b\\c.dat");
  } catch (const ve_base& e) {
    EXPECT_EQ(Printed(e), "[BADFILE]: 4: 'a b\\c.dat'");
    const ve_file copy = dynamic_cast<const ve_file&>(e);
    EXPECT_EQ(copy.path, "a b\\c.dat");
    EXPECT_EQ(Printed(copy), Printed(e));
  }
  try {
    throw ve_crypt("Verifying certificate");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "VerifyTool Exception");
  }
}

TEST_F(VerifyExceptionsTest, CryptPrintsTheErrorQueueOldestFirstAndOnlyOnce) {
  ERR_raise_data(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE, "%s", "first");
  ERR_raise(ERR_LIB_X509, X509_R_NO_CERTIFICATE_OR_CRL_FOUND);
  const ve_crypt e("Error loading trusted certificates file");

  std::istringstream lines(Printed(e));
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, "[VE_CRYPT] Error loading trusted certificates file");
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.rfind("[Crypt Error]: error:", 0), 0u) << line;
  EXPECT_NE(line.find("cert already in hash table :data=first"), std::string::npos) << line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.rfind("[Crypt Error]: error:", 0), 0u) << line;
  EXPECT_NE(line.find("no certificate or crl found"), std::string::npos) << line;
  EXPECT_EQ(line.find(":data="), std::string::npos) << line;
  EXPECT_FALSE(std::getline(lines, line));

  // Printing took the entries off the queue.
  EXPECT_EQ(Printed(e), "[VE_CRYPT] Error loading trusted certificates file\n");
}

TEST_F(VerifyExceptionsTest, CryptFlushesAfterEveryLine) {
  ERR_raise(ERR_LIB_X509, X509_R_NO_CERTIFICATE_OR_CRL_FOUND);
  ERR_raise(ERR_LIB_X509, X509_R_NO_CERTIFICATE_OR_CRL_FOUND);
  FlushCounter buffer;
  std::ostream out(&buffer);
  ve_crypt("Verifying certificate").print(out);
  EXPECT_EQ(buffer.flushes, 3);
}

TEST_F(VerifyExceptionsTest, NextCryptoErrorAppendsDataOnlyWhenItIsShortText) {
  struct Row {
    const char* why;
    std::string data;  ///< empty: no additional data at all
    bool shown;
  };
  const Row rows[] = {
      {"no additional data", "", false},
      {"short text", "x=1", true},
      {"511 bytes", std::string(511, 'd'), true},
      {"512 bytes", std::string(512, 'd'), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    if (row.data.empty()) {
      ERR_raise(ERR_LIB_X509, X509_R_NO_CERTIFICATE_OR_CRL_FOUND);
    } else {
      ERR_raise_data(ERR_LIB_X509, X509_R_NO_CERTIFICATE_OR_CRL_FOUND, "%s", row.data.c_str());
    }
    std::string text = "kept|";
    ASSERT_TRUE(next_crypto_error(text));
    EXPECT_EQ(text.rfind("kept|[Crypt Error]: error:", 0), 0u) << text;
    const std::string suffix = " :data=" + row.data;
    const bool hasSuffix =
        text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    EXPECT_EQ(hasSuffix && !row.data.empty(), row.shown);
    EXPECT_EQ(text.find(":data=") != std::string::npos, row.shown);
  }
  std::string text = "unchanged";
  EXPECT_FALSE(next_crypto_error(text));
  EXPECT_EQ(text, "unchanged");
}

TEST_F(VerifyExceptionsTest, DataWithoutTheTextFlagIsNotShown) {
  // An entry whose data is not flagged as text (set by hand here, as OpenSSL
  // itself does for binary data) must not be printed as text.
  ERR_raise(ERR_LIB_X509, X509_R_NO_CERTIFICATE_OR_CRL_FOUND);
  char* data = static_cast<char*>(OPENSSL_malloc(8));
  std::memcpy(data, "binary", 7);
  ERR_set_error_data(data, ERR_TXT_MALLOCED);
  std::string text;
  ASSERT_TRUE(next_crypto_error(text));
  EXPECT_EQ(text.find(":data="), std::string::npos) << text;
}

}  // namespace
