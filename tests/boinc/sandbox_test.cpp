// Smoke tests of the sandboxed BOINC client, spoken to over plain sockets so
// that they hold even when the client link itself is broken. They run inside
// tests/tools/boinc-sandbox, which tells them the port and the password.

#include <gtest/gtest.h>

#include <gnutls/openssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::string envvalue(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override {
        // Outside the sandbox port 31416 may be somebody's real client.
        if (envvalue("BOINC_SANDBOX_PORT").empty())
            FAIL() << "run these tests through tests/tools/boinc-sandbox";
        port = std::atoi(envvalue("BOINC_SANDBOX_PORT").c_str());
        password = envvalue("BOINC_SANDBOX_PASSWORD");
    }

    // A connected socket, or -1.
    int connectclient() const {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return -1;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    // Sends one request and returns the reply up to (without) the end byte;
    // empty when the client closed, failed or stayed silent for a long time.
    static std::string exchange(int fd, const std::string& body) {
        std::string req = "<boinc_gui_rpc_request>\n" + body + "\n</boinc_gui_rpc_request>\n\003";
        size_t sent = 0;
        while (sent < req.size()) {
            ssize_t n = send(fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return "";
            sent += static_cast<size_t>(n);
        }
        std::string reply;
        char buf[8192];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 60000) <= 0) return "";
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return "";
            reply.append(buf, static_cast<size_t>(n));
            size_t end = reply.find('\003');
            if (end != std::string::npos) return reply.substr(0, end);
        }
    }

    static std::string between(const std::string& text, const std::string& open,
                               const std::string& close) {
        size_t a = text.find(open);
        if (a == std::string::npos) return "";
        a += open.size();
        size_t b = text.find(close, a);
        return b == std::string::npos ? "" : text.substr(a, b - a);
    }

    static std::string md5hex(const std::string& s) {
        unsigned char digest[16];
        MD5_CTX ctx;
        MD5_Init(&ctx);
        MD5_Update(&ctx, s.data(), s.size());
        MD5_Final(digest, &ctx);
        char hex[33];
        for (int i = 0; i < 16; i++) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        return std::string(hex, 32);
    }

    // The reply to auth2 after a nonce login with the given password.
    std::string login(const std::string& pwd) const {
        int fd = connectclient();
        if (fd < 0) return "no connection";
        std::string nonce = between(exchange(fd, "<auth1/>"), "<nonce>", "</nonce>");
        std::string reply;
        if (!nonce.empty())
            reply = exchange(fd, "<auth2>\n<nonce_hash>" + md5hex(nonce + pwd) +
                                     "</nonce_hash>\n</auth2>");
        close(fd);
        return reply;
    }

    int port = 0;
    std::string password;
};

TEST_F(Sandbox, StateListsTheSeededProjectsAndTasks) {
    int fd = connectclient();
    ASSERT_GE(fd, 0) << "nothing listens on 127.0.0.1:" << port;
    std::string state = exchange(fd, "<get_state/>");
    close(fd);
    ASSERT_NE(state.find("<boinc_gui_rpc_reply>"), std::string::npos) << state;
    for (const char* text :
         {"<project_name>Alpha@Home</project_name>", "<project_name>Beta Project</project_name>",
          "<master_url>http://127.0.0.1:9/alpha/</master_url>",
          "<user_friendly_name>Worker of Alpha@Home</user_friendly_name>",
          "<name>alpha@home_wu_0_0</name>", "<name>beta_wu_2_0</name>"})
        EXPECT_NE(state.find(text), std::string::npos) << "missing " << text;
}

TEST_F(Sandbox, SomeSeededTasksExecute) {
    // Tasks start a moment after the client opens its port.
    bool executing = false;
    for (int i = 0; i < 600 && !executing; i++) {
        int fd = connectclient();
        ASSERT_GE(fd, 0);
        std::string state = exchange(fd, "<get_state/>");
        close(fd);
        executing = state.find("<active_task_state>1</active_task_state>") != std::string::npos;
        if (!executing) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(executing);
}

TEST_F(Sandbox, LoginAcceptsTheSandboxPasswordOnly) {
    ASSERT_FALSE(password.empty());
    std::string good = login(password);
    EXPECT_NE(good.find("<authorized/>"), std::string::npos) << good;
    std::string bad = login(password + "x");
    EXPECT_NE(bad.find("<unauthorized/>"), std::string::npos) << bad;
}

}  // namespace
