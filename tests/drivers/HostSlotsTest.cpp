// The host interface is a table of function pointers in a fixed slot order
// that hosts built elsewhere rely on. These tests pin that order two ways: the
// slot each operation takes in the compiled interface (on the Itanium C++ ABI
// a pointer to a virtual member function holds 1 + slot x pointer size), and a
// host written as plain tables of function pointers, in the listed order and
// with no destructor slots, driving the real exports against the emulator.
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include "DriverFixture.h"
#include "kxso/kxso_exports.h"

namespace drivertest {
namespace {

template <typename Member>
std::ptrdiff_t SlotWord(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(std::ptrdiff_t), "Itanium member pointer");
    std::ptrdiff_t words[2];
    std::memcpy(words, &member, sizeof(words));
    return words[0];
}

constexpr std::ptrdiff_t Slot(int index) {
    return 1 + index * static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(HostSlots, SnapInfoOperationsTakeTheListedSlotsFromTheFirst) {
    using KXSO::SnapInfo;
    const std::ptrdiff_t words[] = {
        SlotWord(&SnapInfo::setSnapName),
        SlotWord(&SnapInfo::setArrayName),
        SlotWord(&SnapInfo::isSnapOptionSet),
        SlotWord(&SnapInfo::getStatus),
        SlotWord(&SnapInfo::setStatus),
        SlotWord(&SnapInfo::setRevertedDevicePath),
        SlotWord(&SnapInfo::setMappedDevicePath),
        SlotWord(&SnapInfo::setSnapMetadata),
        SlotWord(&SnapInfo::setError),
        SlotWord(&SnapInfo::getError),
        SlotWord(&SnapInfo::logMessage),
        SlotWord(&SnapInfo::getCloneIndex),
        SlotWord(&SnapInfo::setSnapEngineId),
        SlotWord(&SnapInfo::getSnapEngineId),
        SlotWord(&SnapInfo::getConfigValue),
        SlotWord(&SnapInfo::setSnapTransientMetadata),
        SlotWord(&SnapInfo::getArrayId),
        SlotWord(&SnapInfo::isSnapFlagSet),
        SlotWord(&SnapInfo::setSnapFlags),
        SlotWord(&SnapInfo::getSnapFlags),
        SlotWord(&SnapInfo::getSnapId),
        SlotWord(&SnapInfo::getSnapName),
        SlotWord(&SnapInfo::getArrayInfo),
        SlotWord(&SnapInfo::releaseArrayInfo),
        SlotWord(&SnapInfo::getSourceDevicePath),
        SlotWord(&SnapInfo::getMappedDevicePath),
        SlotWord(&SnapInfo::getSnapMetadata),
        SlotWord(&SnapInfo::getSnapMetadataString),
        SlotWord(&SnapInfo::generateSnapUuid),
    };
    for (int slot = 0; slot < static_cast<int>(std::size(words)); ++slot)
        EXPECT_EQ(Slot(slot), words[slot]) << "operation number " << slot;
}

TEST(HostSlots, UtilityAndArrayOperationsTakeTheFirstSlot) {
    EXPECT_EQ(Slot(0), SlotWord(&KXSO::KXOSUtil::getJobId));
    EXPECT_EQ(Slot(0), SlotWord(&KXSO::ArrayInfo::getArrayName));
}

// --- A host made of plain function tables ------------------------------------

struct CRecord;
using Text = const std::string*;
using OutText = std::string*;

// One entry per SnapInfo operation, in slot order; `self` stands where a C++
// member function receives `this`.
struct CSnapInfoTable {
    int (*setSnapName)(CRecord*, Text);
    int (*setArrayName)(CRecord*, Text);
    bool (*isSnapOptionSet)(CRecord*, uint32_t);
    int (*getStatus)(CRecord*);
    int (*setStatus)(CRecord*, int);
    int (*setRevertedDevicePath)(CRecord*, Text);
    int (*setMappedDevicePath)(CRecord*, Text);
    int (*setSnapMetadata)(CRecord*, int, Text);
    int (*setError)(CRecord*, int, Text);
    int (*getError)(CRecord*, int*, std::string*, int*);
    void (*logMessage)(CRecord*, int, const char*, const char*, ...);
    int (*getCloneIndex)(CRecord*);
    int (*setSnapEngineId)(CRecord*, short);
    short (*getSnapEngineId)(CRecord*);
    int (*getConfigValue)(CRecord*, Text, int*);
    int (*setSnapTransientMetadata)(CRecord*, int, Text);
    int (*getArrayId)(CRecord*);
    bool (*isSnapFlagSet)(CRecord*, uint64_t);
    int (*setSnapFlags)(CRecord*, uint64_t);
    uint64_t (*getSnapFlags)(CRecord*);
    int64_t (*getSnapId)(CRecord*);
    bool (*getSnapName)(CRecord*, OutText);
    bool (*getArrayInfo)(CRecord*, void**);
    void (*releaseArrayInfo)(CRecord*, void*);
    bool (*getSourceDevicePath)(CRecord*, OutText);
    bool (*getMappedDevicePath)(CRecord*, OutText);
    bool (*getSnapMetadata)(CRecord*, int, OutText);
    bool (*getSnapMetadataString)(CRecord*, int, OutText);
    bool (*generateSnapUuid)(CRecord*, Text, uint64_t*, OutText);
};

struct CRecord {
    const CSnapInfoTable* table = nullptr;
    std::string sourceDevice;
    std::string snapName;
    std::string arrayName;
    int status = 0;
    uint64_t flags = 0;
    int errorCode = 0;
    std::string errorText;
    std::map<int, std::string> metadata;
    std::map<int, std::string> transient;
    int lines = 0;
};

bool ReadText(const std::string& value, OutText out) {
    *out = value;
    return true;
}

// A variadic entry cannot be a lambda.
void CountLine(CRecord* record, int, const char*, const char*, ...) {
    ++record->lines;
}

// What the Itanium ABI puts before a virtual table's first slot: the offset
// to the top of the object and its type. A host compiled as C++ has them;
// giving them here keeps the sanitizers' dynamic-type checks meaningful.
template <typename Slots>
struct VirtualTable {
    std::ptrdiff_t offsetToTop;
    const std::type_info* type;
    Slots slots;
};

const VirtualTable<CSnapInfoTable> kRecordTable = {
    0,
    &typeid(KXSO::SnapInfo),
    {
        [](CRecord* r, Text name) { return (r->snapName = *name, 0); },
        [](CRecord* r, Text name) { return (r->arrayName = *name, 0); },
        [](CRecord*, uint32_t) { return false; },
        [](CRecord* r) { return r->status; },
        [](CRecord* r, int status) { return (r->status = status, 0); },
        [](CRecord*, Text) { return 0; },
        [](CRecord*, Text) { return 0; },
        [](CRecord* r, int id, Text value) { return (r->metadata[id] = *value, 0); },
        [](CRecord* r, int code, Text text) {
            return (r->errorCode = code, r->errorText = *text, 0);
        },
        [](CRecord* r, int* code, std::string*, int*) { return (*code = r->errorCode, 0); },
        CountLine,
        [](CRecord*) { return 0; },
        [](CRecord*, short) { return 0; },
        [](CRecord*) { return short{0}; },
        [](CRecord*, Text, int*) { return 1; },
        [](CRecord* r, int id, Text value) { return (r->transient[id] = *value, 0); },
        [](CRecord*) { return 0; },
        [](CRecord* r, uint64_t mask) { return (r->flags & mask) != 0; },
        [](CRecord* r, uint64_t flags) { return (r->flags |= flags, 0); },
        [](CRecord* r) { return r->flags; },
        [](CRecord*) { return int64_t{7}; },
        [](CRecord* r, OutText name) { return ReadText(r->snapName, name); },
        [](CRecord*, void**) { return true; },
        [](CRecord*, void*) {},
        [](CRecord* r, OutText path) { return ReadText(r->sourceDevice, path); },
        [](CRecord*, OutText path) { return (path->clear(), true); },
        [](CRecord* r, int id, OutText value) {
            return r->metadata.count(id) != 0 && ReadText(r->metadata[id], value);
        },
        [](CRecord* r, int id, OutText value) {
            return r->metadata.count(id) != 0 && ReadText(r->metadata[id], value);
        },
        [](CRecord*, Text, uint64_t* reserved, OutText uuid) {
            *reserved = 0;
            return ReadText("00000000-0000-4000-8000-000000000007", uuid);
        },
    }};

struct CUtil;
struct CUtilTable {
    long long (*getJobId)(CUtil*);
};
struct CUtil {
    const CUtilTable* table;
    long long jobId;
};
const VirtualTable<CUtilTable> kUtilTable = {
    0, &typeid(KXSO::KXOSUtil), {[](CUtil* util) { return util->jobId; }}};

class TableHostTest : public DriverTest {};

TEST_F(TableHostTest, PrepareAndSnapshotWorkThroughPlainFunctionTables) {
    CRecord record;
    record.table = &kRecordTable.slots;
    record.sourceDevice = "/dev/sdd";
    record.snapName = "snap-table";
    CUtil util{&kUtilTable.slots, 21};
    KXSO::SnapInfo* devices[] = {reinterpret_cast<KXSO::SnapInfo*>(&record)};
    auto* hostUtil = reinterpret_cast<KXSO::KXOSUtil*>(&util);

    int16_t major = -1, minor = -1, patch = -1;
    kxso_version(&major, &minor, &patch);
    EXPECT_GE(major, 0);

    ASSERT_EQ(KXSO::RESULT_SUCCESS, kxso_prepareDevices(devices, 1, hostUtil)) << record.errorText;
    EXPECT_EQ(KXSO::SNAP_STATUS_PREPARED, record.status);
    EXPECT_EQ("1", record.transient[KXSO::METADATA_TRANSIENT]);  // sdd is LUN 1
    EXPECT_FALSE(record.arrayName.empty());
    EXPECT_GT(record.lines, 0);

    ASSERT_EQ(KXSO::RESULT_SUCCESS, kxso_snapDevices(devices, 1, hostUtil)) << record.errorText;
    EXPECT_EQ(KXSO::SNAP_STATUS_SNAP_CREATED, record.status);
    EXPECT_NE(std::string::npos, record.metadata[KXSO::METADATA_SNAPSHOT].find("snap-table"));
    EXPECT_TRUE(SnapshotExists("snap-table"));
}

}  // namespace
}  // namespace drivertest
