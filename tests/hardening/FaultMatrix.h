// The fault matrix: every operation, every kind of request it sends, every
// fault class once, and after each run the invariants every failure must
// keep. This header holds the vocabulary shared by the managed-disk and the
// NetApp Files tables: request kinds, fault classes, the emulator inventory
// and the outcome of one run.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "AzureEmulator.h"

namespace faultmatrix {

// One kind of request, told apart by what it does rather than by its URL, so
// that the table follows what the code really sends.
struct RequestKind {
    std::string name;              // "token", "VM update", "disk create", "async status"...
    std::string method;            // to aim a fault at it
    std::string pathRegex;         // matches this kind's paths and no other kind's
    bool startsOperation = false;  // PUT/PATCH/DELETE/POST on Resource Manager

    bool operator<(const RequestKind& other) const { return name < other.name; }
};

// What kind a logged request is; a name of "" when it cannot be told.
RequestKind ClassifyRequest(const azemu::RequestRecord& request);
// The distinct kinds of a run's requests, in the order they were first sent.
std::vector<RequestKind> KindsSent(const std::vector<azemu::RequestRecord>& log);

// How a fault is brought about.
enum class FaultScope {
    AnyRequest,       // a fault on the first request of the kind
    OperationStarts,  // only on requests that start an asynchronous operation
    Attach,           // the operation as a whole: devices never show up
    Host,             // the operation as a whole: the host refuses its setters
};

struct FaultClass {
    std::string name;
    FaultScope scope = FaultScope::AnyRequest;
    azemu::FaultAction action = azemu::FaultAction::Error;
    int status = 500;
    std::string code;
    bool afterProcessing = false;
    int times = 1;             // how often it fires
    int operationDelayMs = 0;  // how long Azure's operations take meanwhile
};

// The faults Resource Manager produces daily, fired twice (libcurl re-sends
// a request whose answer is lost once on its own) while Azure's operations
// take a while: for requests that start an operation, status polls, and
// answers lost after the work. Empty for a fault and kind it adds nothing to.
std::vector<FaultClass> RepeatedWhileBusy(const FaultClass& fault, const RequestKind& kind);
// The longest operation delay the repeated rows use.
constexpr int kBusyOperationDelayMs = 500;

// Every fault class, once.
const std::vector<FaultClass>& FaultClasses();
bool Applies(const FaultClass& fault, const RequestKind& kind);
azemu::FaultSpec FaultFor(const FaultClass& fault, const RequestKind& kind);

// The emulated resources a job can touch, by key ("disk:NAME",
// "snapshot:NAME", "attach:NAME", "volume:NAME", "volsnap:VOLUME/NAME"),
// each with the document that shows its state.
using Inventory = std::map<std::string, azemu::Json>;
Inventory TakeInventory(const azemu::Json& state);

// What the host's records showed after the run.
struct RecordView {
    int status = 0;
    int errorCode = 0;
    std::string errorText;
    std::string snapName;
    std::string mappedDevice;
    std::string revertedDevice;
    std::string metadata;
};

struct RunOutcome {
    int result = 0;
    std::vector<RecordView> records;
    Inventory before;
    Inventory after;
    bool hostRefused = false;
    bool faultFired = false;
};

struct Violation {
    std::string operation;
    std::string kind;
    std::string fault;
    std::string what;
};

// A violation found, understood and left for the owner of the code to fix:
// the test passes while it stays, and names it. "*" matches any kind or fault.
struct KnownViolation {
    std::string operation;
    std::string kind;
    std::string fault;
    std::string whatContains;
    std::string reason;
    // The behaviour is what the design asks for (Azure said the resource is
    // gone, a deletion is not awaited...): nothing to fix, listed so that the
    // matrix says why it tolerates it.
    bool byDesign = false;
};

bool Matches(const KnownViolation& known, const Violation& found);

// Gathers a table's runs and violations and prints the summary line.
class MatrixReport {
public:
    explicit MatrixReport(std::vector<KnownViolation> known) : known_(std::move(known)) {}
    void AddRun(bool faultFired) {
        ++runs_;
        fired_ += faultFired ? 1 : 0;
    }
    void Add(const Violation& violation);
    // Prints "fault matrix: N runs, M invariant violations" and the details.
    void Print(const std::string& title) const;
    const std::vector<Violation>& Unexpected() const { return unexpected_; }

private:
    std::vector<KnownViolation> known_;
    std::vector<Violation> unexpected_;
    std::vector<std::pair<Violation, const KnownViolation*>> expected_;
    int runs_ = 0;
    int fired_ = 0;
};

std::string Describe(const Violation& violation);

// The matrix runs every operation one request at a time, and those that send
// requests side by side again at the default width: a row that passes at one
// width and fails at the other is a fault of the side-by-side sending.
const std::vector<size_t>& Widths();
// "width N", for reports.
std::string WidthName(size_t width);
// "_WidthN", for test names.
std::string WidthSuffix(size_t width);
// The settings line that sets the width.
std::string WidthSetting(size_t width);
// Whether the matrix aims faults at this kind at this width. A call fetches
// its token and reads the instance metadata once, before it sends anything
// side by side: a fault there ends the call the same way at every width, so
// those rows run at width 1 only.
bool AimedAtWidth(const RequestKind& kind, size_t width);

}  // namespace faultmatrix
