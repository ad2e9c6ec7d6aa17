#include "upnp/ThreadedServices.h"

#include <cstdlib>
#include <cstring>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/miniwget.h>
#include <miniupnpc/upnpcommands.h>

namespace {

// Gateways are asked for by this search type; a device answering with it
// is the one that can forward ports.
constexpr const char* GatewaySearchType = "InternetGatewayDevice";
// Routers are one hop away; the conventional multicast time-to-live.
constexpr unsigned char DiscoveryTtl = 2;
constexpr int HttpOk = 200;

const UPNPDev* ChooseGateway(const UPNPDev* devices, QStringList& log)
{
    for (const UPNPDev* device = devices; device; device = device->pNext) {
        if (std::strstr(device->st, GatewaySearchType)) {
            log << QStringLiteral("%1, InternetGatewayDevice, found").arg(device->descURL);
            return device;
        }
        log << QStringLiteral("%1, %2 skipping").arg(device->st, device->descURL);
    }
    log << QStringLiteral("Defaulting to first device found, %1").arg(devices->descURL);
    return devices;
}

} // namespace

// The gateway found by the last discovery: its control URLs and the service
// data parsed from its description. No control URL means none was found.
struct ThreadedServices::Gateway
{
    Gateway()
    {
        std::memset(&m_urls, 0, sizeof m_urls);
        std::memset(&m_data, 0, sizeof m_data);
    }
    ~Gateway() { FreeUPNPUrls(&m_urls); }
    Gateway(const Gateway&) = delete;
    Gateway& operator=(const Gateway&) = delete;

    bool Describe(const UPNPDev* device)
    {
        int size = 0;
        int status = 0;
        char* xml = static_cast<char*>(miniwget(device->descURL, &size, device->scope_id, &status));
        if (!xml)
            return false;
        const bool described = status == HttpOk;
        if (described) {
            parserootdesc(xml, size, &m_data);
            GetUPNPUrls(&m_urls, &m_data, device->descURL, device->scope_id);
        }
        std::free(xml);
        return described;
    }

    bool HasControlUrl() const { return m_urls.controlURL && *m_urls.controlURL; }
    // An empty URL makes the library fail the request without sending it.
    const char* ControlUrl() const { return m_urls.controlURL ? m_urls.controlURL : ""; }
    const char* ServiceType() const { return m_data.first.servicetype; }

    UPNPUrls m_urls;
    IGDdatas m_data;
};

ThreadedServices::ThreadedServices() : m_gateway(std::make_unique<Gateway>()) {}

ThreadedServices::~ThreadedServices() = default;

void ThreadedServices::Init()
{
    QStringList log{QStringLiteral("Initializing UPnP")};
    int error = 0;
    UPNPDev* devices = upnpDiscover(DiscoveryMilliseconds, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0,
                                    DiscoveryTtl, &error);
    if (!devices) {
        log << QStringLiteral("No device list found during discovery. miniupnp error code: %1")
                   .arg(error);
        emit LogLines(log);
        return;
    }
    log << QStringLiteral("Device list found");
    const UPNPDev* chosen = ChooseGateway(devices, log);
    // What an earlier discovery found belongs to the network we were on then.
    m_gateway = std::make_unique<Gateway>();
    log << (m_gateway->Describe(chosen) ? QStringLiteral("Device XML found.")
                                        : QStringLiteral("Device XML not found."));
    freeUPNPDevlist(devices);
    emit LogLines(log);
}

void ThreadedServices::AddPortMapping(QString localAddress, int port)
{
    QStringList log{QStringLiteral("Found own address to be %1").arg(localAddress)};
    const int result = RequestMapping(localAddress, port);
    if (result == 0) {
        log << QStringLiteral("Port successfully mapped.");
    } else if (result == ConflictInMappingEntry) {
        // Usually our own mapping from an earlier address, or another
        // machine's: either way the port is ours to take over, once.
        log << QStringLiteral(
            "Port already mapped, attempting to remove existing mapping before retrying.");
        RemoveMapping(port, log);
        const int second = RequestMapping(localAddress, port);
        log << (second == 0 ? QStringLiteral("Second mapping attempt successful.")
                            : QStringLiteral("Second mapping attempt failed, miniupnp error: %1")
                                  .arg(second));
    } else {
        log << QStringLiteral("Port mapping failure, miniupnp error: %1").arg(result);
    }
    emit LogLines(log);
}

void ThreadedServices::RemovePortMapping(int port)
{
    QStringList log;
    RemoveMapping(port, log);
    emit LogLines(log);
}

int ThreadedServices::RequestMapping(const QString& localAddress, int port)
{
    const QByteArray portText = QByteArray::number(port);
    const QByteArray client = localAddress.toLatin1();
    // No remote host and no lease duration: a permanent mapping for anyone.
    return UPNP_AddPortMapping(m_gateway->ControlUrl(), m_gateway->ServiceType(),
                               portText.constData(), portText.constData(), client.constData(),
                               MappingDescription, MappingProtocol, nullptr, nullptr);
}

void ThreadedServices::RemoveMapping(int port, QStringList& log)
{
    log << QStringLiteral("Removing mapping for port %1").arg(port);
    if (!m_gateway->HasControlUrl()) {
        log << QStringLiteral("UPnP appears to not have been initialized, aborting.");
        return;
    }
    const QByteArray portText = QByteArray::number(port);
    const int result = UPNP_DeletePortMapping(m_gateway->ControlUrl(), m_gateway->ServiceType(),
                                              portText.constData(), MappingProtocol, nullptr);
    log << (result == 0
                ? QStringLiteral("Port mapping successfully removed.")
                : QStringLiteral("Port mapping removal failed, miniupnp error: %1").arg(result));
}
