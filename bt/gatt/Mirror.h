// The GATT database of a real device read through Windows and mirrored as an attribute table,
// with the Windows objects kept behind each record for later reads, writes and subscriptions.
#pragma once

#include "bt/gatt/Database.h"
#include "platform/Bluetooth.h"

#include <memory>
#include <optional>
#include <stop_token>

namespace Pd::Bt
{

// A Windows GUID as a UUID in air order.
Uuid GuidToUuid(const GUID& guid);

class GattMirror
{
public:
    struct CharacteristicObjects
    {
        std::shared_ptr<Platform::GattCharacteristic> characteristic;
        std::vector<std::shared_ptr<Platform::GattDescriptor>> descriptors; // as listed
    };
    struct ServiceObjects
    {
        std::shared_ptr<Platform::GattDeviceService> service;
        std::vector<CharacteristicObjects> characteristics; // as listed
    };

    GattMirror(GattDatabase database, std::vector<ServiceObjects> objects)
        : database_(std::move(database)), objects_(std::move(objects))
    {
    }

    const GattDatabase& Database() const { return database_; }

    // The Windows objects of a record, by its indices in Database() (as the table's entries
    // carry them). A CCCD the mirror added itself has no descriptor object: null.
    Platform::GattDeviceService& Service(std::size_t service) const;
    Platform::GattCharacteristic& Characteristic(std::size_t service, std::size_t characteristic) const;
    std::shared_ptr<Platform::GattDescriptor> Descriptor(std::size_t service, std::size_t characteristic,
                                                         std::size_t descriptor) const;

private:
    const CharacteristicObjects& Objects(std::size_t service, std::size_t characteristic) const;

    GattDatabase database_;
    std::vector<ServiceObjects> objects_; // as Windows listed the services
};

// Reads the device's services, characteristics and descriptors and builds the mirror, logging
// its size. None when Windows could not list the services (logged with its status); an error
// when a Windows call failed or stop was requested (which cancels the listing under way), which
// the caller reports.
Platform::Outcome<std::optional<GattMirror>> MirrorGattDatabase(Platform::LeDevice& device,
                                                                std::uint64_t peerAddress,
                                                                std::stop_token stop);

} // namespace Pd::Bt
