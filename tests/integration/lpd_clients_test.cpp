// Real LPD clients (rlpr, the CUPS lpd back end, LPRng's lpr) sending a text and a 5 MB binary file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "platform/ansi.h"
#include "support/lpd_server_fixture.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;

struct Payload {
    std::string Name;
    std::string Content;
};

std::vector<Payload> Payloads() {
    std::string binary(5 * 1024 * 1024, '\0');
    std::mt19937 random(7);
    for (char& byte : binary)
        byte = static_cast<char>(random());
    return {{"report.txt", "Quarterly report\nline two\n\f"}, {"scan.bin", binary}};
}

class LpdClientsTest : public test::LpdServerFixture {
  protected:
    // Runs a client to its end; its exit code (-1 when it had to be killed). What it printed goes to output_.
    int Run(const std::string& program, const std::vector<std::string>& arguments,
            ChildProcess::Options options = {}) {
        options.CaptureErrors = true;
        ChildProcess client(program, arguments, options);
        return client.RunToEnd(60000, &output_);
    }
    // The job received last carries exactly the bytes sent.
    void ExpectReceived(std::size_t count, const std::string& content, const std::string& what) {
        ASSERT_EQ(WaitForJobs(count), count) << what << " was not received\n" << output_;
        const SpoolFilePtr job = Job(count - 1);
        const std::string data = ReadFile(platform::UnicodeToAnsi(job->LocalFileName));
        EXPECT_TRUE(data == content) << what << ": " << data.size() << " bytes received of "
                                     << content.size();
        EXPECT_EQ(job->PrinterName, u"PASS") << what;
    }
    std::string Write(const Payload& payload) {
        const std::string path = folder_.File(payload.Name);
        test::WriteFile(path, payload.Content);
        return path;
    }
    static ChildProcess::Options Options(std::vector<std::string> environment, std::string input = {},
                                         bool printChannels = false) {
        ChildProcess::Options options;
        options.Environment = std::move(environment);
        options.Input = std::move(input);
        options.PrintChannels = printChannels;
        return options;
    }
    static bool Installed(const std::string& program) { return access(program.c_str(), X_OK) == 0; }
    std::string output_;
};

TEST_F(LpdClientsTest, Rlpr) {
    const std::string rlpr = "/usr/bin/rlpr";
    if (!Installed(rlpr))
        GTEST_SKIP() << "rlpr is not installed (scripts/setup.sh installs it)";
    const auto arguments = [&](const std::string& queue) {
        return std::vector<std::string>{"-N", "-H",        "127.0.0.1", "--port=" + std::to_string(port_),
                                        "-P", queue,       "-U",        "alice",
                                        "-J", "quarterly", "-T",        "Quarterly figures"};
    };
    std::size_t count = 0;
    for (const Payload& payload : Payloads()) {
        auto withFile = arguments("PASS");
        withFile.push_back(Write(payload));
        EXPECT_EQ(Run(rlpr, withFile), 0) << output_;
        ExpectReceived(++count, payload.Content, "rlpr " + payload.Name);
        EXPECT_EQ(Job(count - 1)->Owner, u"alice");
    }
    auto missing = arguments("NOPE");
    missing.push_back(Write(Payloads()[0]));
    EXPECT_NE(Run(rlpr, missing), 0);
    EXPECT_NE(output_.find("refused our job request"), std::string::npos) << output_;
    EXPECT_EQ(JobCount(), count);
}

TEST_F(LpdClientsTest, CupsLpdBackEnd) {
    const std::string backend = "/usr/lib/cups/backend/lpd";
    if (!Installed(backend))
        GTEST_SKIP() << "the CUPS lpd back end is not installed (package cups)";
    const auto uri = [&](const std::string& queue, const std::string& options) {
        return "DEVICE_URI=lpd://127.0.0.1:" + std::to_string(port_) + "/" + queue + "?snmp=no&reserve=none" +
               options;
    };
    std::size_t count = 0;
    for (const Payload& payload : Payloads()) {
        const std::string file = Write(payload);
        EXPECT_EQ(Run(backend, {"42", "bob", "Board minutes", "1", "", file}, Options({uri("PASS", "")})), 0)
            << output_;
        ExpectReceived(++count, payload.Content, "CUPS " + payload.Name);
        EXPECT_EQ(Job(count - 1)->Owner, u"bob");
        // In stream mode from standard input it cannot know the length and announces 999999999999.
        EXPECT_EQ(Run(backend, {"44", "bob", "Board minutes", "1", ""},
                      Options({uri("PASS", "&mode=stream")}, file, true)),
                  0)
            << output_;
        ExpectReceived(++count, payload.Content, "CUPS stream standard input " + payload.Name);
    }
    EXPECT_NE(Run(backend, {"45", "bob", "Board minutes", "1", "", Write(Payloads()[0])},
                  Options({uri("NOPE", "")})),
              0);
    EXPECT_NE(output_.find("lpd_command returning 1"), std::string::npos) << output_;
    EXPECT_EQ(JobCount(), count);
}

TEST_F(LpdClientsTest, LprngLpr) {
    const std::string root = std::string(VELMORA_CLIENTS_DIR) + "/lprng";
    const std::string lpr = root + "/usr/bin/lpr";
    if (!Installed(lpr))
        GTEST_SKIP() << "LPRng is not unpacked (scripts/setup.sh unpacks it into build-tools/)";
    if (Run("/usr/bin/unshare", {"--mount", "/bin/true"}) != 0) {
        GTEST_SKIP() << "no private mount namespace here for LPRng's /etc";
    }
    // LPRng reads its configuration from /etc only, and conflicts with the CUPS package: it runs unpacked,
    // in a mount namespace of its own where /etc shows its configuration files on top of the real ones.
    const std::string upper = folder_.File("etc-upper");
    const std::string work = folder_.File("etc-work");
    std::filesystem::create_directories(upper + "/lprng");
    std::filesystem::create_directories(work);
    std::filesystem::copy(root + "/etc/lprng", upper + "/lprng", std::filesystem::copy_options::recursive);
    test::WriteFile(upper + "/printcap", "");
    // One attempt per job: a refused job is not tried again ten seconds later.
    test::WriteFile(upper + "/lprng/lpd.conf", ReadFile(root + "/etc/lprng/lpd.conf") + "\nsend_try=1\n");
    const std::string script = "mount -t overlay overlay -o lowerdir=/etc,upperdir=" + upper +
                               ",workdir=" + work + " /etc || exit 99; exec \"$@\"";
    const auto runLpr = [&](const std::string& queue, std::vector<std::string> arguments,
                            const std::string& input = {}) {
        std::vector<std::string> all = {"--mount", "--propagation",
                                        "private", "/bin/sh",
                                        "-c",      script,
                                        "sh",      lpr,
                                        "-P",      queue + "@127.0.0.1%" + std::to_string(port_),
                                        "-J",      "lprng job"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Run("/usr/bin/unshare", all, Options({}, input));
    };
    std::size_t count = 0;
    for (const Payload& payload : Payloads()) {
        EXPECT_EQ(runLpr("PASS", {Write(payload)}), 0) << output_;
        ExpectReceived(++count, payload.Content, "LPRng " + payload.Name);
        EXPECT_EQ(Job(count - 1)->JobName, u"lprng job");
        // Cutting through (-k) from standard input it announces a length of 0 and sends until it closes.
        EXPECT_EQ(runLpr("PASS", {"-k"}, Write(payload)), 0) << output_;
        ExpectReceived(++count, payload.Content, "LPRng cut-through " + payload.Name);
    }
    EXPECT_NE(runLpr("NOPE", {Write(Payloads()[0])}), 0);
    EXPECT_FALSE(output_.empty());
    EXPECT_EQ(JobCount(), count);
}

}  // namespace
}  // namespace velmora
