// The job file format: what kxsnap accepts, what it refuses with a one-line
// reason, and that an output feeds the next job unchanged.
#include <gtest/gtest.h>

#include "kxsnap/JobFile.h"

namespace {

using kxsnap::Job;
using kxsnap::ParseJob;

const char* kFullJob = R"({
  "jobId": 7,
  "operations": ["kxso_prepareDevices", "kxso_snapDevices"],
  "records": [{
    "sourceDevicePath": "{idatype:nfs,lunuuid:\\/share,targethostname:10.0.0.4}",
    "snapName": "s1", "snapId": 1, "arrayId": 2, "arrayName": "Azure-Default-MSI",
    "snapEngineId": 83, "snapFlags": "0x1000008000000",
    "snapOptions": 32768, "cloneIndex": 3, "status": 5,
    "mappedDevicePath": "/dev/sdf", "revertedDevicePath": "",
    "metadata": {"6": "snapURL:/a;sourceDiskURL:/b;sourceDiskName:d;sourceDiskSku:Premium_LRS;"},
    "transientMetadata": {"102": "3"},
    "errorCode": 60001, "errorText": "earlier failure",
    "config": {"SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY": 3},
    "snapUuid": "0f8fad5b-d9cb-469f-a165-70867728950e",
    "refuse": ["setSnapFlags"]
  }]
})";

TEST(JobFileTest, ReadsEveryFieldAndTheOutputFeedsTheNextJobUnchanged) {
    Job job;
    std::string error;
    ASSERT_TRUE(ParseJob(kFullJob, job, error)) << error;
    EXPECT_EQ(7, job.jobId);
    ASSERT_EQ(2u, job.operations.size());
    ASSERT_EQ(1u, job.records.size());
    const auto& record = job.records[0];
    EXPECT_EQ("{idatype:nfs,lunuuid:\\/share,targethostname:10.0.0.4}", *record.sourceDevicePath);
    EXPECT_EQ(0x1000008000000ULL, record.snapFlags);
    EXPECT_EQ(83, record.snapEngineId);
    EXPECT_EQ(32768u, record.snapOptions);
    EXPECT_EQ("3", record.transientMetadata.at(102));
    EXPECT_EQ(3, record.config.at("SMCONFIG_ANF_OP_PROGRESS_COUNT_KEY"));
    EXPECT_EQ(1u, record.refuse.count("setSnapFlags"));
    EXPECT_EQ(60001, record.errorCode);

    auto output = kxsnap::JobOutputToJson({{"kxso_prepareDevices", 0}}, job.records, {});
    output["operations"] = {"kxso_mapSnaps"};
    Job next;
    ASSERT_TRUE(ParseJob(output.dump(), next, error)) << error;
    ASSERT_EQ(1u, next.records.size());
    EXPECT_EQ(kxsnap::RecordToJson(job.records[0]), kxsnap::RecordToJson(next.records[0]));
    // The backslash survives as JSON's own escape.
    EXPECT_NE(std::string::npos, output.dump().find("lunuuid:\\\\/share"));
}

TEST(JobFileTest, FlagsKeepAllSixtyFourBits) {
    Job job;
    std::string error;
    ASSERT_TRUE(ParseJob(R"({"operations": [], "records": [{"snapFlags": "0xFFFFFFFFFFFFFFFF"},
                                                            {"snapFlags": 134217728}]})",
                         job, error))
        << error;
    EXPECT_EQ(~0ULL, job.records[0].snapFlags);
    EXPECT_EQ("0xffffffffffffffff", kxsnap::FlagsToText(job.records[0].snapFlags));
    EXPECT_EQ(0x8000000ULL, job.records[1].snapFlags);
}

TEST(JobFileTest, AbsentTextsStayAbsent) {
    Job job;
    std::string error;
    ASSERT_TRUE(ParseJob(R"({"operations": ["kxso_snapDevices"], "records": [{}]})", job, error));
    EXPECT_FALSE(job.records[0].sourceDevicePath.has_value());
    EXPECT_FALSE(job.records[0].snapName.has_value());
    EXPECT_FALSE(job.records[0].snapUuid.has_value());
    auto json = kxsnap::RecordToJson(job.records[0]);
    EXPECT_FALSE(json.contains("sourceDevicePath"));
    EXPECT_FALSE(json.contains("arrayName"));
}

struct BadJob {
    const char* text;
    const char* reason;
};

class JobFileRefusalTest : public ::testing::TestWithParam<BadJob> {};

TEST_P(JobFileRefusalTest, NamesTheFieldOnOneLine) {
    Job job;
    std::string error;
    EXPECT_FALSE(ParseJob(GetParam().text, job, error));
    EXPECT_NE(std::string::npos, error.find(GetParam().reason)) << error;
    EXPECT_EQ(std::string::npos, error.find('\n')) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, JobFileRefusalTest,
    ::testing::Values(
        BadJob{"", "not a JSON document"}, BadJob{"{\"operations\": [", "not a JSON document"},
        BadJob{"[]", "expected a JSON object"}, BadJob{R"({"records": []})", "operations"},
        BadJob{R"({"operations": ["kxso_version"], "records": []})", "not a device operation"},
        BadJob{R"({"operations": ["rm -rf /"], "records": []})", "not a device operation"},
        BadJob{R"({"operations": []})", "records"},
        BadJob{R"({"operations": [], "records": [{"snapFlags": "12"}]})", "records[0].snapFlags"},
        BadJob{R"({"operations": [], "records": [{"snapFlags": "0xZZ"}]})", "snapFlags"},
        BadJob{R"({"operations": [], "records": [{"snapFlags": "0x1FFFFFFFFFFFFFFFF"}]})",
               "snapFlags"},
        BadJob{R"({"operations": [], "records": [{"snapFlags": -1}]})", "snapFlags"},
        BadJob{R"({"operations": [], "records": [{}, {"snapId": "one"}]})", "records[1].snapId"},
        BadJob{R"({"operations": [], "records": [{"snapEngineId": 70000}]})", "out of range"},
        BadJob{R"({"operations": [], "records": [{"metadata": {"six": "x"}}]})", "metadata.six"},
        BadJob{R"({"operations": [], "records": [{"metadata": {"6": 6}}]})", "metadata.6"},
        BadJob{R"({"operations": [], "records": [{"refuse": ["explode"]}]})", "unknown host"},
        BadJob{R"({"operations": [], "records": [{"sourceDevicepath": "/dev/sdc"}]})",
               "unknown field"},
        BadJob{R"({"operations": [], "records": [], "extra": 1})", "unknown field"},
        BadJob{R"({"jobId": "7", "operations": [], "records": []})", "jobId"}));

}  // namespace
