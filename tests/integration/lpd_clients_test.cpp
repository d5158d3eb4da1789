// Real LPD clients from Debian sending jobs to the server: rlpr, the CUPS lpd back end and LPRng's lpr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/lpd_server_fixture.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;

class LpdClientsTest : public test::LpdServerFixture {
  protected:
    void SetUp() override {
        test::LpdServerFixture::SetUp();
        document_ = folder_.File("report.txt");
        test::WriteFile(document_, content_);
    }

    // Runs a client to its end; its exit code (-1 when it had to be killed).
    int Run(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment = {}) {
        ChildProcess client(program, arguments, environment);
        return client.WaitFor(60000);
    }

    void ExpectOneJobWithTheDocument() {
        ASSERT_EQ(WaitForJobs(1), 1u);
        const SpoolFilePtr job = Job(0);
        EXPECT_EQ(ReadFile(platform::UnicodeToAnsi(job->LocalFileName)), content_);
        EXPECT_EQ(job->PrinterName, u"PASS");
        EXPECT_EQ(job->State, STATE_READY);
        EXPECT_NE(job->ControlFile, u"");
    }

    static bool Installed(const std::string& program) { return access(program.c_str(), X_OK) == 0; }

    std::string document_;
    const std::string content_ = "Quarterly report\nline two\n\f";
};

TEST_F(LpdClientsTest, Rlpr) {
    if (!Installed("/usr/bin/rlpr"))
        GTEST_SKIP() << "rlpr is not installed (scripts/setup.sh installs it)";
    EXPECT_EQ(Run("/usr/bin/rlpr", {"-N", "-H", "127.0.0.1", "--port=" + std::to_string(port_), "-P", "PASS",
                                    "-U", "alice", "-J", "quarterly", "-T", "Quarterly figures", document_}),
              0);
    ExpectOneJobWithTheDocument();
    EXPECT_EQ(Job(0)->Owner, u"alice");
    EXPECT_EQ(Job(0)->JobName, u"quarterly");
}

TEST_F(LpdClientsTest, CupsLpdBackEnd) {
    const std::string backend = "/usr/lib/cups/backend/lpd";
    if (!Installed(backend))
        GTEST_SKIP() << "the CUPS lpd back end is not installed (package cups)";
    const std::string uri = "lpd://127.0.0.1:" + std::to_string(port_) + "/PASS?reserve=none";
    EXPECT_EQ(Run(backend, {"42", "bob", "Board minutes", "1", "", document_}, {"DEVICE_URI=" + uri}), 0);
    ExpectOneJobWithTheDocument();
    EXPECT_EQ(Job(0)->Owner, u"bob");
    EXPECT_EQ(Job(0)->DocumentName, u"Board minutes");
}

TEST_F(LpdClientsTest, LprngLpr) {
    const std::string root = std::string(VELMORA_CLIENTS_DIR) + "/lprng";
    const std::string lpr = root + "/usr/bin/lpr";
    if (!Installed(lpr))
        GTEST_SKIP() << "LPRng is not unpacked (scripts/setup.sh unpacks it into build-tools/)";
    // LPRng reads its configuration from /etc only, and conflicts with the CUPS package: it runs unpacked,
    // in a mount namespace of its own where /etc shows its configuration files on top of the real ones.
    const std::string upper = folder_.File("etc-upper");
    const std::string work = folder_.File("etc-work");
    std::filesystem::create_directories(upper + "/lprng");
    std::filesystem::create_directories(work);
    std::filesystem::copy(root + "/etc/lprng", upper + "/lprng", std::filesystem::copy_options::recursive);
    test::WriteFile(upper + "/printcap", "");
    const std::string script = "mount -t overlay overlay -o lowerdir=/etc,upperdir=" + upper +
                               ",workdir=" + work + " /etc || exit 99; exec \"$@\"";
    const int result = Run("/usr/bin/unshare",
                           {"--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh", lpr, "-P",
                            "PASS@127.0.0.1%" + std::to_string(port_), "-J", "lprng job", document_});
    if (result == 99 || Run("/usr/bin/unshare", {"--mount", "/bin/true"}) != 0) {
        GTEST_SKIP() << "no private mount namespace here for LPRng's /etc";
    }
    EXPECT_EQ(result, 0);
    ExpectOneJobWithTheDocument();
    EXPECT_EQ(Job(0)->JobName, u"lprng job");
}

}  // namespace
}  // namespace velmora
