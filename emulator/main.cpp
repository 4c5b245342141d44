// azure-emulator: serves the emulated Azure side until SIGTERM or SIGINT.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <signal.h>

#include "AzureEmulator.h"

namespace {

const char* kHelp =
    R"HELP(Usage: azure-emulator --scenario FILE --root DIR [--state FILE] [--port-file FILE]

A local stand-in for the instance metadata service, Resource Manager's Compute,
NetApp Files and Network providers and the device tree of the VM they describe.
Listens on 127.0.0.1 only: HTTPS for Resource Manager, plain HTTP for instance
metadata and the admin API.

On start it prints one line of JSON and flushes it:
  {"arm":"https://127.0.0.1:P/","imds":"http://127.0.0.1:Q/","admin":"http://127.0.0.1:Q",
   "caFile":"/tmp/azure-emulator-XXXXXX/cert.pem","root":"DIR"}
Point the plug-in at it with KXSO_ARM_ENDPOINT=arm, KXSO_IMDS_ENDPOINT=imds,
KXSO_CA_FILE=caFile, KXSO_ROOT=root; point the udevadm stand-in (emulator-bin/udevadm)
at it with KXSO_EMULATOR_ADMIN=admin. It then serves until SIGTERM or SIGINT.

Options
  --scenario FILE   the scenario (JSON, below)
  --root DIR        where the VM's device tree is laid out (sys/block, dev/...)
  --state FILE      load the Azure side from FILE if it exists, save it there after
                    every change; issued tokens and the TLS certificate (FILE.tls/)
                    are kept too, so consecutive runs look like one Azure
  --port-file FILE  also write the start-up line to FILE
  --help            this text

Scenario: a JSON object; every member is optional (defaults after "=").
  tenantId, subscriptionId, resourceGroup = "kx-rg", location = "westeurope"
  identity      {enabled = true, clientId, objectId}      the managed identity
  vm            the VM the emulator runs "inside" (metadata, device tree):
    name = "kxvm", vmId, size = "Standard_D4s_v3", maxDataDisks = 64, zones = [],
    tags = {}, computerName, adminUsername, image {publisher, offer, sku, version},
    osDisk {name, sku = "Premium_LRS", sizeGB = 30, osType = "Linux", caching},
    resourceDisk = true (sdb at 1:0:1:0), dataDiskScsiHost = 3 (disks at 3:0:0:LUN),
    generation = 1 (sr0 at 1:0:0:0; 2: sr0 at 0:0:0:2), opticalDrive = true,
    dataDisks [{lun (required), name, sku = "Premium_LRS", sizeGB = 128,
                caching = "None", tags, zones} | {lun, vhdUri, sizeGB}  (unmanaged)],
    networkInterfaces [{privateIpAddresses = ["10.0.0.4"], publicIpAddress,
                        subnet = "10.0.0.0/24", macAddress}]
  otherVms      [{name, size, zones, osDisk, dataDisks, ...}]   no device tree
  disks         [{name, sku = "Standard_LRS", sizeGB = 64, zones, tags, osType}]
  snapshots     [{name, sourceDisk (disk name or id), incremental = false,
                  sku = "Standard_LRS", sizeGB, tags, timeCreated, provisioningState}]
  blockDevices  ["loop0", "ram0", "dm-0", {"name": "sdz", "scsiAddress": "2:0:0:0"}]
  settings      {provisioningDelayMs = 0, asyncOperationDelayMs = 0, deviceDelayMs = 0,
                 deleteDelayMs = 0, deleteMissingStatus = 204, tokenLifetimeSec = 3599,
                 incrementalSnapshots = true}
  Unknown members are refused. The device tree gets sda (OS disk, 0:0:0:0), sdb
  (resource disk), the blockDevices, then one sdX per data disk in LUN order, with
  dev/disk/azure/scsi1/lunN links. A sample is emulator/scenarios/sample-vm.json.

  subscriptionDisplayName, subscriptionVisible = true     the VM's subscription
  resourceGroups  ["name" | {name, visible = true}]       more groups there
  otherSubscriptions [{subscriptionId, displayName, visible = true, resourceGroups}]
  virtualNetworks [{name, subscriptionId, resourceGroup,
                    subnets [{name, addressPrefix "10.20.1.0/24"}]}]
  networkInterfaces [{name, subscriptionId, resourceGroup, privateIpAddresses,
                      subnet "vnet/subnet", hostedWorkloads, virtualMachine}]
  netAppAccounts  [{name, subscriptionId, resourceGroup, location, tags,
    capacityPools [{name, serviceLevel = "Premium", size, tags,
      volumes [{name, creationToken = name, mountTargetIp (else allocated),
                subnet "vnet/subnet", usageThreshold = 107374182400,
                protocolTypes = ["NFSv3"], serviceLevel, content, tags,
                exportRules, snapshots [{name, content, created}]}]}]}]
  Invisible groups and subscriptions are left out of lists and refused (403).
  A NetApp Files sample is emulator/scenarios/sample-anf.json.

Admin API (on both listeners; JSON in and out)
  GET    /_emulator/health | /_emulator/endpoints | /_emulator/state
  POST   /_emulator/reset                back to the scenario; clears faults and log
  POST   /_emulator/complete-pending     finish pending operations and device events now
  GET    /_emulator/settings             PUT|PATCH it with members to change
  GET    /_emulator/faults               POST a fault (or a list); DELETE all or /{id}
           fault: {"method": "PUT"|"*", "path": "regex (case-insensitive)",
                   "times": 1 (-1 = always), "skip": 0, "action": "error" | "delay" |
                   "drop" | "truncate" | "nonJson" | "noAsyncHeader" | "asyncFail" |
                   "asyncCancel" | "asyncNeverEnd" | "emptyBody" | "wrongTypes",
                   "status": 500,
                   "code": "InternalServerError", "message": "...", "delayMs": 0,
                   "afterProcessing": false}
  GET    /_emulator/requests             request log (bearer tokens hidden); DELETE clears
  GET    /_emulator/connections          {"https": n, "http": n, "total": n}
  GET    /_emulator/devices              devices present and device events pending
  POST   /_emulator/devices/settle?timeout=SECONDS   blocks until no device event is
                                         pending; {"settled": true|false}
  GET    /_emulator/resource?id=ID       a resource document
  DELETE /_emulator/resource?id=ID       remove a NetApp Files snapshot or volume at once
  GET    /_emulator/netapp               volumes with content labels and snapshots
  POST   /_emulator/netapp/content       {"volume": id|token, "content": "label"}
  POST   /_emulator/token                a bearer token, as the metadata service issues
)HELP";

struct Options {
    std::string scenario, root, state, portFile;
};

bool parseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--scenario")
            ok = value(o.scenario);
        else if (arg == "--root")
            ok = value(o.root);
        else if (arg == "--state")
            ok = value(o.state);
        else if (arg == "--port-file")
            ok = value(o.portFile);
        else
            ok = false;
        if (!ok) {
            std::cerr << "azure-emulator: bad argument '" << arg << "' (see --help)\n";
            return false;
        }
    }
    if (o.scenario.empty() || o.root.empty()) {
        std::cerr << "azure-emulator: --scenario and --root are required (see --help)\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::cout << kHelp;
            return 0;
        }
    }
    Options options;
    if (!parseArgs(argc, argv, options))
        return 2;

    // Block the signals before any thread starts so that every thread inherits the mask and
    // only sigwait below sees SIGTERM/SIGINT; SIGPIPE from vanished clients is ignored.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        std::ifstream in(options.scenario);
        if (!in)
            throw std::runtime_error("cannot read " + options.scenario);
        std::stringstream text;
        text << in.rdbuf();
        azemu::Emulator emulator(azemu::Json(text.str()), options.root, options.state);
        emulator.start();
        std::string line = emulator.endpoints().dump();
        if (!options.portFile.empty()) {
            std::ofstream(options.portFile + ".tmp") << line << "\n";
            std::rename((options.portFile + ".tmp").c_str(), options.portFile.c_str());
        }
        std::cout << line << std::endl;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        emulator.stop();
    } catch (const std::exception& e) {
        std::cerr << "azure-emulator: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
