#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include "fakeserver.h"
#include "item.h"
#include "mainwin.h"
#include "parsetext.h"
#include "srv.h"
#include "transferswin.h"

namespace {

using Cells = std::vector<std::string>;

// The time the captured reply was taken at.
constexpr double kNow = 1796829560;

std::string transfer(const std::string& inner)
{
    return "<file_transfer><project_url>http://127.0.0.1:9/alpha/</project_url>"
           "<project_name>Alpha@Home</project_name>" + inner + "</file_transfer>";
}

} // namespace

TEST(TransferLines, CellsOfEachKindOfTransfer)
{
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    auto captured = parse(readfixture("file_transfers_sample.xml"));
    std::vector<Item*> real = captured->find("file_transfers")->children("file_transfer");
    ASSERT_EQ(real.size(), 2u);
    EXPECT_EQ(transfercells(transferrow(real[0], kNow)),
              (Cells{"Alpha@Home", "alpha@home_up_0_0", "up", "4.50 KB", "0 B 0%", "-", "2s",
                     "retry in 3m 59s"}));
    EXPECT_EQ(transfercells(transferrow(real[1], kNow)),
              (Cells{"Alpha@Home", "alpha@home_down_1_1", "down", "4.50 KB", "0 B 0%", "-", "2s",
                     "retry in 2m 36s"}));

    const struct {
        const char* what;
        std::string xml;
        Cells want;
    } cases[] = {
        {"moving now, half done",
         transfer("<name>big.dat</name><nbytes>2516582</nbytes><persistent_file_xfer>"
                  "<time_so_far>3725</time_so_far><is_upload>0</is_upload></persistent_file_xfer>"
                  "<file_xfer><bytes_xferred>1258291</bytes_xferred><xfer_speed>12595</xfer_speed>"
                  "</file_xfer>"),
         {"Alpha@Home", "big.dat", "down", "2.40 MB", "1.20 MB 50%", "12.3 KB/s", "1h 2m", "active"}},
        {"the project holds it back longer than its own retry",
         transfer("<name>f</name><nbytes>1000000</nbytes><project_backoff>3600.5</project_backoff>"
                  "<persistent_file_xfer><next_request_time>1796829620</next_request_time>"
                  "<last_bytes_xferred>250000</last_bytes_xferred><is_upload>1</is_upload>"
                  "</persistent_file_xfer>"),
         {"Alpha@Home", "f", "up", "977 KB", "244 KB 25%", "-", "0s", "project backoff 1h"}},
        {"given up",
         transfer("<name>f</name><nbytes>10</nbytes><status>-115</status>"
                  "<persistent_file_xfer><is_upload>1</is_upload></persistent_file_xfer>"),
         {"Alpha@Home", "f", "up", "10 B", "0 B 0%", "-", "0s", "error: gave up upload"}},
        {"its retry time has come",
         transfer("<name>f</name><nbytes>10</nbytes><persistent_file_xfer>"
                  "<next_request_time>1796829000</next_request_time><last_bytes_xferred>30"
                  "</last_bytes_xferred></persistent_file_xfer>"),
         {"Alpha@Home", "f", "down", "10 B", "30 B 100%", "-", "0s", "pending"}},
        {"an old client: no project name, an upload by its old flag, a hostile name",
         "<file_transfer><project_url>http://b/</project_url><name>a\xc2\x9b" "2Jb</name>"
         "<generated_locally/><nbytes>nan</nbytes></file_transfer>",
         {"http://b/", "a?2Jb", "up", "0 B", "0 B 0%", "-", "0s", "pending"}},
    };
    for (const auto& c : cases) {
        auto tree = parse(c.xml);
        EXPECT_EQ(transfercells(transferrow(tree->find("file_transfer"), kNow)), c.want) << c.what;
    }
}

TEST(TransferLines, SizesAndLayout)
{
    const std::pair<double, const char*> sizes[] = {
        {1023, "1023 B"}, {1024, "1.00 KB"}, {102297, "99.9 KB"}, {1e6, "977 KB"},
        {1073741824, "1.00 GB"}, {-1, "0 B"}};
    for (const auto& s : sizes)
        EXPECT_EQ(bytestext(s.first), s.second) << s.first;

    // Names to their columns, numbers to the right of theirs, the state last and whole.
    const Cells cells{"Alpha@Home Project", "a.dat", "up", "4.50 KB", "0 B 0%", "-", "2s",
                      "retry in 3m 59s"};
    EXPECT_EQ(transferline(cells, transferlayout(200, 5)),
              "Alpha@Home Pro a.dat        up    4.50 KB        0 B 0%           -       2s  "
              "retry in 3m 59s");
    // A narrower screen takes room from the names first, then drops figures, never the state.
    const struct {
        int cols, longestname;
        const char* want;
    } widths[] = {
        {200, 60, "Alpha@Home Pro a.dat                                    up    4.50 KB"},
        {114, 35, "Alpha@Home Pro a.dat                       up    4.50 KB"},
        {80, 30, "Alpha@Home a.dat        up    4.50 KB        0 B 0%  retry in 3m 59s"},
        {40, 30, "Alpha@Home a.dat    up    retry in 3m 59s"},
    };
    for (const auto& w : widths) {
        const TransferLayout l = transferlayout(w.cols, w.longestname);
        EXPECT_LE(l.width(), std::max(w.cols, 47)) << w.cols; // names, direction and state stay
        EXPECT_EQ(transferline(cells, l).substr(0, std::string(w.want).size()), w.want) << w.cols;
    }
}

TEST(TransferLines, SnoozeCaption)
{
    const ModeDelay none, run{2519.5, 3, 2}, net{30, 3, 1};
    const ModeDelay gpu{600, 1, 2}; // held at "always" for a while: not a snooze
    EXPECT_EQ(snoozecaption(none, gpu, none), "");
    EXPECT_EQ(snoozecaption(run, gpu, net), "snoozed 42m, network snoozed 1m");
}
