// Two jobs of one host process on two threads at once, against one emulator:
// each must see only its own records, snapshots and log, and neither may
// disturb the other. Run under ThreadSanitizer by the test command, this is
// also the check that one-time set-up (libcurl, constant tables, compiled
// expressions) is thread-safe, and that the side-by-side sending of a job's
// requests (at the default width, each job with several disks) shares nothing
// with the other thread's.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace {

// Azure answers every request this much later, so that a job's transfers are
// under way together, and the two threads' as well.
constexpr int kLatencyMs = 300;

struct JobOnThread {
    std::vector<std::string> devices;
    long long jobId = 0;
    std::unique_ptr<kxtest::TestHost> host;
    std::vector<int> results;
};

class ConcurrentJobsTest : public drivertest::DriverTest {
protected:
    // Runs `steps` on every job's records, each job on its own thread.
    template <typename Steps>
    static void RunTogether(std::vector<JobOnThread>& jobs, Steps steps) {
        std::vector<std::thread> threads;
        for (JobOnThread& job : jobs) {
            threads.emplace_back([&job, &steps] { steps(job); });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    static void BackupSteps(JobOnThread& job) {
        KXSO::SnapInfo** records = job.host->devices();
        const int16_t count = job.host->count();
        KXSO::KXOSUtil* util = job.host->util();
        job.results.push_back(kxso_prepareDevices(records, count, util));
        job.results.push_back(kxso_snapDevices(records, count, util));
        job.results.push_back(kxso_postSnapDevices(records, count, util));
    }

    // When the snapshot PUTs of a job's records arrived. One at a time, the
    // next PUT goes out only after the answer to the one before, at least
    // kLatencyMs after it arrived.
    std::vector<int64_t> SnapshotPutArrivals(const JobOnThread& job) const {
        std::vector<int64_t> arrivals;
        for (int16_t i = 0; i < job.host->count(); ++i) {
            const std::string name = job.host->Record(i).data().snapName.value_or("");
            for (const azemu::RequestRecord& put : Sent("PUT", "/snapshots/" + name)) {
                arrivals.push_back(put.timeMs);
            }
        }
        std::sort(arrivals.begin(), arrivals.end());
        return arrivals;
    }
};

TEST_F(ConcurrentJobsTest, TwoBackupsAndTheirDeletesOnSeparateThreads) {
    // No width set: the default, far more than a job's disks.
    UseSettings();
    Tune(&azemu::Settings::requestLatencyMs, kLatencyMs);
    std::vector<JobOnThread> jobs(2);
    jobs[0].devices = {"/dev/sdc", "/dev/sdd"};
    jobs[0].jobId = 101;
    jobs[1].devices = {"/dev/sde", "/dev/sdf"};
    jobs[1].jobId = 102;
    for (JobOnThread& job : jobs) {
        job.host = DeviceHost(job.devices, job.jobId);
    }

    RunTogether(jobs, BackupSteps);

    std::vector<std::string> snapshots;
    for (JobOnThread& job : jobs) {
        EXPECT_EQ(std::vector<int>({0, 0, 0}), job.results) << "job " << job.jobId;
        for (int16_t i = 0; i < job.host->count(); ++i) {
            EXPECT_EQ(0, drivertest::ErrorCode(*job.host, i))
                << "job " << job.jobId << " record " << i << ": "
                << drivertest::ErrorText(*job.host, i);
            const std::string name = job.host->Record(i).data().snapName.value_or("");
            EXPECT_TRUE(SnapshotExists(name)) << name;
            snapshots.push_back(name);
        }
    }
    EXPECT_EQ(4u, snapshots.size());
    for (const JobOnThread& job : jobs) {
        const std::vector<int64_t> arrivals = SnapshotPutArrivals(job);
        ASSERT_EQ(arrivals.size(), job.devices.size()) << "job " << job.jobId;
        EXPECT_LT(arrivals.back() - arrivals.front(), kLatencyMs)
            << "job " << job.jobId << " sent its snapshot PUTs one after the other";
    }
    // Each host's log holds only its own job's work.
    for (size_t j = 0; j < jobs.size(); ++j) {
        const JobOnThread& other = jobs[1 - j];
        for (int16_t i = 0; i < other.host->count(); ++i) {
            const std::string name = other.host->Record(i).data().snapName.value_or("");
            EXPECT_FALSE(jobs[j].host->Logged(name)) << "job " << jobs[j].jobId << " logged " << name;
        }
    }

    // The second phase: each job deletes what it took, again side by side.
    std::vector<JobOnThread> deletes(2);
    for (size_t j = 0; j < jobs.size(); ++j) {
        deletes[j].jobId = jobs[j].jobId + 100;
        deletes[j].host = SnapshotHost(*jobs[j].host, deletes[j].jobId);
    }
    RunTogether(deletes, [](JobOnThread& job) {
        job.results.push_back(
            kxso_deleteSnaps(job.host->devices(), job.host->count(), job.host->util()));
    });
    for (JobOnThread& job : deletes) {
        EXPECT_EQ(std::vector<int>({0}), job.results) << "job " << job.jobId;
    }
    for (const std::string& name : snapshots) {
        EXPECT_FALSE(SnapshotExists(name)) << name;
    }
}

}  // namespace
