// The CSV log against real files in a scratch folder: header and rows, a new block for another set
// of GPUs, a new file at midnight, a missing folder, and a folder that cannot be written.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "history/csv_log.h"
#include "history/csv_log_worker.h"
#include "history/csv_text.h"
#include "platform/text16.h"

namespace tarvelon {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class CsvLog : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarvelon-csv-XXXXXX";
        root = mkdtemp(pattern);
    }
    void TearDown() override { std::system(("rm -rf " + root).c_str()); }

    CsvLine line(const std::string& folder, LocalTime time, int64_t tick, int gpuCount, uint32_t first = 12) {
        CsvLine l{};
        l.time = time;
        l.tick = tick;
        copyText16(l.directory, kSettingTextUnits, fromUtf8(folder).c_str());
        l.gpuCount = gpuCount;
        for (int i = 0; i <= gpuCount; ++i) {
            for (int f = 0; f < kHistoryFigures; ++f) l.figures[i][f] = first + 10 * i + f;
            if (i > 0) l.gpuKeys[i - 1] = static_cast<uint16_t>(i);
        }
        return l;
    }

    std::string root;
    CsvLogState state;
};

constexpr LocalTime kEvening{2026, 12, 7, 23, 59, 59};
constexpr LocalTime kMidnight{2026, 12, 8, 0, 0, 0};

TEST_F(CsvLog, HeaderRowsBlocksAndDays) {
    const std::string folder = root + "/logs/new";  // created when missing
    EXPECT_EQ(writeCsvLine(state, line(folder, kEvening, 1, 1)), CsvOutcome::written);
    EXPECT_EQ(writeCsvLine(state, line(folder, kEvening, 2, 1, 99999)), CsvOutcome::written);
    CsvLine twoGpus = line(folder, kEvening, 3, 2);
    EXPECT_EQ(writeCsvLine(state, twoGpus), CsvOutcome::written);
    twoGpus.gpuKeys[1] = 7;  // as many GPUs, another one among them
    EXPECT_EQ(writeCsvLine(state, twoGpus), CsvOutcome::written);
    EXPECT_EQ(writeCsvLine(state, line(folder + "/", kMidnight, 4, 0)), CsvOutcome::written);

    const std::string host = "time,cpu_load_pct,cpu_mhz,processes,threads,phys_free_mb,virt_free_mb,net_io_mbit";
    const std::string gpu0 = ",gpu0_load_pct,gpu0_core_mhz,gpu0_mem_mhz,gpu0_free_mb,gpu0_fan_rpm,gpu0_core_c,gpu0_mem_c";
    const std::string gpu1 = ",gpu1_load_pct,gpu1_core_mhz,gpu1_mem_mhz,gpu1_free_mb,gpu1_fan_rpm,gpu1_core_c,gpu1_mem_c";
    const std::string row2 = "2026-12-07 23:59:59,12,13,14,15,16,17,18,22,23,24,25,26,27,28,32,33,34,35,36,37,38\r\n";
    EXPECT_EQ(readFile(folder + "/tarvelon-2026-12-07.csv"),
              host + gpu0 + "\r\n" +
              "2026-12-07 23:59:59,12,13,14,15,16,17,18,22,23,24,25,26,27,28\r\n"
              "2026-12-07 23:59:59,99999,100000,100001,100002,100003,100004,100005,"
              "100009,100010,100011,100012,100013,100014,100015\r\n" +
              host + gpu0 + gpu1 + "\r\n" + row2 + host + gpu0 + gpu1 + "\r\n" + row2);
    EXPECT_EQ(readFile(folder + "/tarvelon-2026-12-08.csv"),
              host + "\r\n2026-12-08 00:00:00,12,13,14,15,16,17,18\r\n");
}

TEST_F(CsvLog, AnUnwritableFolderGivesOneNoticeAndIsTriedAgainEachMinute) {
    const std::string blocked = root + "/blocked";
    std::ofstream(blocked) << "a file where the folder should be";
    struct Step {
        int64_t tick;
        CsvOutcome outcome;
    };
    const Step steps[] = {{100, CsvOutcome::failed},      {101, CsvOutcome::paused}, {159, CsvOutcome::paused},
                          {160, CsvOutcome::failedAgain}, {161, CsvOutcome::paused}};
    for (const Step& step : steps) {
        EXPECT_EQ(writeCsvLine(state, line(blocked, kEvening, step.tick, 0)), step.outcome) << step.tick;
    }
    std::remove(blocked.c_str());  // the folder can be made now
    EXPECT_EQ(writeCsvLine(state, line(blocked, kEvening, 219, 0)), CsvOutcome::paused);
    EXPECT_EQ(writeCsvLine(state, line(blocked, kEvening, 220, 0)), CsvOutcome::written);
    EXPECT_EQ(readFile(blocked + "/tarvelon-2026-12-07.csv").substr(0, 5), "time,");
    std::system(("rm -rf " + blocked + " && touch " + blocked).c_str());
    EXPECT_EQ(writeCsvLine(state, line(blocked, kEvening, 221, 0)), CsvOutcome::failed);  // a new notice
    EXPECT_EQ(writeCsvLine(state, line(root, kEvening, 222, 0)), CsvOutcome::written);  // another folder at once
}

// A disk that fills in mid-row (a file size limit here): the row is cut back out, and the next row after
// the pause starts a block of its own rather than repeating the one that failed.
TEST_F(CsvLog, ARowIsWrittenWholeOrNotAtAll) {
    const CsvLine first = line(root, kEvening, 1, 0);
    ASSERT_EQ(writeCsvLine(state, first), CsvOutcome::written);
    const std::string path = toUtf8(csvLogPath(first).c_str());
    const std::string before = readFile(path);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit tight{before.size() + 5, saved.rlim_max};
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tight);
    const CsvOutcome outcome = writeCsvLine(state, line(root, kEvening, 2, 0, 77));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(outcome, CsvOutcome::failed);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(writeCsvLine(state, line(root, kEvening, 62, 0, 88)), CsvOutcome::written);
    EXPECT_EQ(readFile(path).find("77"), std::string::npos);
    EXPECT_EQ(readFile(path).size(), 2 * before.size());  // a header and a row again
}

TEST(CsvFolder, ATypedFolderCountsOnceItHasStood) {
    CsvFolderSettle settle;
    struct Tick {
        const char16_t* folder;
        bool used;
    };
    const Tick ticks[] = {{u"", false},  {u"", false},   {u"", false},    {u"C", false},   {u"C:", false},
                          {u"C:", false}, {u"C:", true}, {u"C:", true},   {u"D:", false}, {u"", false}};
    for (const Tick& tick : ticks) EXPECT_EQ(csvFolderSettled(settle, tick.folder), tick.used) << toUtf8(tick.folder);
}

TEST_F(CsvLog, TheWorkerWritesQueuedLinesAndRaisesTheNoticeOnce) {
    CsvLogWorker worker;
    const std::string blocked = root + "/blocked";
    std::ofstream(blocked) << "x";
    EXPECT_TRUE(worker.push(line(root, kEvening, 1, 0)));
    EXPECT_TRUE(worker.push(line(blocked, kEvening, 2, 0)));
    EXPECT_TRUE(worker.push(line(blocked, kEvening, 3, 0)));
    worker.drain();
    EXPECT_TRUE(worker.takeFailureNotice());
    EXPECT_FALSE(worker.takeFailureNotice());
    EXPECT_EQ(readFile(root + "/tarvelon-2026-12-07.csv").size(), 83u + 42u);  // the header and one row
}

TEST(CsvText, TileHeadersAndFileNames) {
    EXPECT_EQ(csvTileHeader(-1), "time,cpu_load_pct,cpu_mhz,processes,threads,phys_free_mb,virt_free_mb,net_io_mbit\r\n");
    EXPECT_EQ(csvTileHeader(3), "time,gpu3_load_pct,gpu3_core_mhz,gpu3_mem_mhz,gpu3_free_mb,gpu3_fan_rpm,gpu3_core_c,gpu3_mem_c\r\n");
    EXPECT_EQ(toUtf8(csvFileName({2027, 1, 2, 3, 4, 5}).c_str()), "tarvelon-2027-01-02.csv");
}

}  // namespace
}  // namespace tarvelon
