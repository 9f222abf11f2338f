#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/machine/host_services.h"
#include "platform/machine/machine.h"
#include "platform/temp_prefix.h"
#include "update/tiny_http_server.h"

// A machine whose installed version the update check reads, a local version page and
// a host that records what is launched.
namespace hivewise::testing {

// The test server is local: a proxy set for the user must not be asked for it.
inline const bool kLocalWithoutProxy = [] {
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    return true;
}();

class RecordingHost : public NullHostServices {
  public:
    bool Launch(const std::string& target, const std::string& parameters, bool wait, int) override {
        launches.push_back({target, parameters});
        waited = wait;
        return true;
    }
    std::vector<std::pair<std::string, std::string>> launches;
    bool waited = false;
};

class UpdateCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prefix.SystemReg("\n[Software] 1700000000\n");
        WriteVersion("\"Version\"=\"6.2\"\n");
    }
    void WriteVersion(const std::string& value) {
        prefix.UserReg("\n[Software\\\\Hivewise] 1700000000\n" + value);
        machine = prefix.Load();
        ASSERT_TRUE(machine) << prefix.LastError();
        machine->SetHost(&host);
    }

    std::string published = "6.3";
    TinyHttpServer server{[this](const std::string&) {
        return TinyHttpServer::Page("<html><body>" + published + "</body></html>");
    }};
    TempPrefix prefix;
    std::unique_ptr<Machine> machine;
    RecordingHost host;
};

}  // namespace hivewise::testing
